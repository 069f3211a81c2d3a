#pragma once
// What the user reads when a card cannot be recovered names the card and why:
// the message alone ("A file necessary for the recovery is not found.") does
// not tell a mistyped path from a folder or a device the user may not read.
#include "AAA_Exceptions.h"
#include "AAA_WideString.h"

namespace Restore {

// Refuses a source that cannot be a card before any reader tries it: a path
// that does not exist, a folder, an empty file, a device the user may not read.
void CheckSource(const AAA::WString& source);

// Adds to a failure that names nothing yet the source and why it failed.
void NameSource(AAA::ExceptionBase& error, const AAA::WString& source);

} // namespace Restore
