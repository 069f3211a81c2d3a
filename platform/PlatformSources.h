#pragma once
// The sources the front ends open beyond the engine's own (files and block
// devices): E01 images. Installed once at program start.
namespace Platform {

void InstallSourceOpener();

} // namespace Platform
