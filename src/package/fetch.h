// Pictures are read from the package file on first use and kept.
#pragma once

#include <cstdint>

#include "package/records.h"

namespace tiko {

// Returns picture `index` of the package, loaded and converted to `format`, and
// counts the use; none when the index is out of range or anything fails. On
// first use the picture is read from the file (and decoded when stored
// compressed). A picture whose stored sizes disagree with the layout rules,
// whose data lie beyond the end of the file, or whose block could never decode
// to its total size is refused. A failed read, decode or allocation leaves the
// picture not loaded, so a later fetch starts again from the file; a failed
// conversion leaves the loaded data with the picture.
Image* FetchPicture(Package* package, uint32_t index, uint8_t format);

}  // namespace tiko
