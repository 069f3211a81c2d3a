#pragma once
// The volume model, the reader interface and the tree commands.
#include "Commands.h"
#include "CopyToDst.h"
#include "DirEntry.h"
#include "DirectoryEntryBase.h"
#include "EntryNameRule.h"
#include "ExtentIndex.h"
#include "FSAccessBase.h"
#include "HostPathPlan.h"
#include "SafeHostPath.h"
