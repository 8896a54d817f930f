// The readable JSON form of package scripts and pictures, as `pack` reads it
// and `unpack` writes it.
#pragma once

#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>
#include <vector>

#include "host/packages/errors.h"
#include "package/records.h"

namespace tiko::packages {

using Json = nlohmann::ordered_json;

// A problem at one place of the JSON: "actors[2].steps[5].x: expected ...".
class JsonError : public Error {
 public:
  JsonError(const std::string& path, const std::string& message) : Error(path + ": " + message) {}
};

// Picture names in table order; a step refers to a picture by its name.
using PictureNames = std::vector<std::string>;

// Where a step stands in its actor's script: jumps and skips must land in it.
struct StepPlace {
  int32_t index;
  int32_t count;
};

ActorStep StepFromJson(const Json& json, const std::string& path, const PictureNames& pictures, StepPlace place);
// The readable form of a step; a step that form cannot give back byte for byte
// (codes or values a tool would not write, references outside the package)
// comes out as {"raw": "<hex>"}.
Json StepToJson(const ActorStep& step, const PictureNames& pictures, StepPlace place);

// The default picture: a name, a number in the table, null for none, or
// {"raw": n} for a header value kept as it stands.
uint32_t DefaultPictureFromJson(const Json& json, const std::string& path, const PictureNames& pictures);
Json DefaultPictureToJson(uint32_t index, const PictureNames& pictures);

// Helpers for reading objects field by field with the path in every error.
const Json& Member(const Json& object, const std::string& path, const char* key);
int64_t Integer(const Json& value, const std::string& path, int64_t min, int64_t max);
std::string Text(const Json& value, const std::string& path);
// Refuses keys other than `known`, which catches misspelt fields.
void OnlyKeys(const Json& object, const std::string& path, std::initializer_list<const char*> known);
// A string value the way errors show it: quoted, with control characters
// escaped, so that an error stays on one line.
std::string Quoted(const std::string& text);
// "\"a\", \"b\" or \"c\"": the valid values of a choice, for its error.
std::string Choices(std::initializer_list<const char*> names);

}  // namespace tiko::packages
