// Opening a package file into a Package, and giving it back.
#pragma once

#include "package/records.h"
#include "package/status.h"

namespace tiko {

// Reads the header, every actor with its steps and the picture table of the
// package at `path` (NUL-terminated UTF-16, fewer than 256 units). Picture data
// stay in the file, which stays open. Returns STATUS_SUCCESS and stores the
// package in *slot, or STATUS_UNSUCCESSFUL with nothing left allocated; the
// slot is set to null, except when the file could not be opened at all.
Status LoadPackage(const char16_t* path, Package** slot);

// Gives back everything the package owns and closes its file. Null is allowed.
void FreePackage(Package* package);

// True when the 12-unit actor name equals `target` (ASCII, lower case) without
// regard to the case of A-Z.
bool ActorNameEquals(const char16_t name[kActorNameUnits], const char* target);

}  // namespace tiko
