// tiko.inspect, tiko.pack and tiko.unpack: the package library of the tiko
// program, with its checks and its messages, for scripts as Python dicts and
// lists and pictures as PNG files or RGBA arrays.
#include <pybind11/stl.h>
#include <pybind11/stl/filesystem.h>

#include <climits>
#include <cmath>
#include <filesystem>
#include <optional>
#include <string>

#include "host/packages/inspect.h"
#include "host/packages/pack.h"
#include "host/packages/pictures.h"
#include "host/packages/unpack.h"
#include "python/arrays.h"
#include "python/module.h"

namespace tiko::python {
namespace {

namespace fs = std::filesystem;
using packages::Json;

constexpr int64_t kRgbaChannels = 4;

std::string TypeName(py::handle value) { return py::str(py::type::of(value).attr("__name__")).cast<std::string>(); }

std::string Member(const std::string& path, const std::string& key) { return path.empty() ? key : path + "." + key; }

// A picture's "file" given as an array: its place in the script's pictures
// ("pictures[N].file").
std::optional<size_t> ArrayPicture(const std::string& path) {
  const std::string head = "pictures[", tail = "].file";
  if (path.size() <= head.size() + tail.size() || path.rfind(head, 0) != 0 ||
      path.compare(path.size() - tail.size(), tail.size(), tail) != 0) {
    return std::nullopt;
  }
  const std::string digits = path.substr(head.size(), path.size() - head.size() - tail.size());
  if (digits.find_first_not_of("0123456789") != std::string::npos) return std::nullopt;
  return static_cast<size_t>(std::stoull(digits));
}

host::RgbaImage RgbaOf(py::handle value, const std::string& path) {
  const py::array_t<uint8_t> pixels = PixelArray(value, path, {kAnySide, kAnySide, kRgbaChannels});
  if (pixels.shape(0) > INT32_MAX || pixels.shape(1) > INT32_MAX) {
    throw py::value_error(path + ": " + std::to_string(pixels.shape(1)) + " x " + std::to_string(pixels.shape(0)) +
                          " pixels; pictures are at most " + std::to_string(packages::kMaxPictureSide) +
                          " pixels a side");
  }
  host::RgbaImage image{static_cast<int32_t>(pixels.shape(1)), static_cast<int32_t>(pixels.shape(0)), {}};
  image.pixels.assign(pixels.data(), pixels.data() + pixels.size());
  return image;
}

// The JSON form of a Python value at `path` of the script; the arrays met
// as pictures' files go to `arrays` and leave nothing in the JSON.
std::optional<Json> ToJson(py::handle value, const std::string& path, packages::PictureArrays* arrays) {
  if (value.is_none()) return Json(nullptr);
  // Before the numbers: an array of one element passes for a number too.
  if (py::isinstance<py::array>(value)) {
    const std::optional<size_t> picture = ArrayPicture(path);
    if (!picture) throw py::type_error(path + ": an array stands only for a picture's \"file\"");
    (*arrays)[*picture] = RgbaOf(value, path);
    return std::nullopt;
  }
  if (py::isinstance<py::bool_>(value)) return Json(value.cast<bool>());
  if (PyLong_Check(value.ptr()) || (!PyFloat_Check(value.ptr()) && PyIndex_Check(value.ptr()))) {
    const py::int_ number = py::reinterpret_steal<py::int_>(PyNumber_Index(value.ptr()));
    if (!number) throw py::error_already_set();
    int overflow = 0;
    const long long signedValue = PyLong_AsLongLongAndOverflow(number.ptr(), &overflow);
    if (overflow == 0) return Json(static_cast<int64_t>(signedValue));
    if (overflow > 0) {
      const unsigned long long unsignedValue = PyLong_AsUnsignedLongLong(number.ptr());
      if (!PyErr_Occurred()) return Json(static_cast<uint64_t>(unsignedValue));
      PyErr_Clear();
    }
    throw py::value_error(path + ": " + py::str(value).cast<std::string>() + " does not fit in 64 bits");
  }
  if (PyFloat_Check(value.ptr())) {
    const double number = value.cast<double>();
    if (!std::isfinite(number)) throw py::value_error(path + ": " + py::str(value).cast<std::string>() + " is no JSON number");
    return Json(number);
  }
  if (py::isinstance<py::str>(value)) return Json(value.cast<std::string>());
  if (py::isinstance<py::dict>(value)) {
    Json object = Json::object();
    for (const auto& [key, item] : py::reinterpret_borrow<py::dict>(value)) {
      if (!py::isinstance<py::str>(key)) {
        throw py::type_error(Member(path, py::repr(key).cast<std::string>()) + ": keys are strings, not " +
                             TypeName(key));
      }
      const std::string name = key.cast<std::string>();
      if (std::optional<Json> member = ToJson(item, Member(path, name), arrays)) object[name] = std::move(*member);
    }
    return object;
  }
  if (py::isinstance<py::list>(value) || py::isinstance<py::tuple>(value)) {
    Json array = Json::array();
    size_t index = 0;
    for (const py::handle item : value) {
      std::optional<Json> element = ToJson(item, path + "[" + std::to_string(index++) + "]", arrays);
      array.push_back(element ? std::move(*element) : Json(nullptr));
    }
    return array;
  }
  throw py::type_error(path + ": expected a dict, list, str, int, float, bool or None, not " + TypeName(value));
}

py::object FromJson(const Json& json) {
  switch (json.type()) {
    case Json::value_t::object: {
      py::dict object;
      for (const auto& [key, item] : json.items()) object[py::str(key)] = FromJson(item);
      return object;
    }
    case Json::value_t::array: {
      py::list array;
      for (const Json& item : json) array.append(FromJson(item));
      return array;
    }
    case Json::value_t::string: return py::str(json.get_ref<const std::string&>());
    case Json::value_t::boolean: return py::bool_(json.get<bool>());
    case Json::value_t::number_integer: return py::int_(json.get<int64_t>());
    case Json::value_t::number_unsigned: return py::int_(json.get<uint64_t>());
    case Json::value_t::number_float: return py::float_(json.get<double>());
    default: return py::none();
  }
}

bool IsPath(py::handle value) { return py::isinstance<py::str>(value) || py::hasattr(value, "__fspath__"); }

py::object Inspect(const fs::path& path) {
  Json inspected;
  {
    py::gil_scoped_release unlocked;
    inspected = packages::InspectPackage(path.string());
  }
  return FromJson(inspected);
}

void Pack(const py::object& script, const fs::path& output, const std::optional<fs::path>& baseDir) {
  Json root;
  packages::PictureArrays arrays;
  packages::PackJob job;
  if (IsPath(script)) {
    // A script file, read as the command line reads it.
    const std::string name = py::module_::import("os").attr("fspath")(script).cast<std::string>();
    {
      py::gil_scoped_release unlocked;
      root = packages::ParseScript(packages::ReadInput(name), name);
    }
    job.scriptFile = {"script", name};
    job.base = baseDir ? baseDir->string() : fs::path(name).parent_path().string();
  } else if (py::isinstance<py::dict>(script)) {
    root = *ToJson(script, "", &arrays);
    job.base = baseDir ? baseDir->string() : "";
  } else {
    throw py::type_error("script: expected a dict or the path of a JSON file, not " + TypeName(script));
  }
  job.script = &root;
  job.arrays = &arrays;
  job.output = {"out_path", output.string()};
  py::gil_scoped_release unlocked;
  packages::Pack(job);
}

void Unpack(const fs::path& package, const fs::path& dir) {
  py::gil_scoped_release unlocked;
  packages::Unpack({"path", package.string()}, {"out_dir", dir.string()});
}

}  // namespace

void AddPackages(py::module_& m) {
  m.def("inspect", &Inspect, py::arg("path"),
        "What a package holds, as `tiko inspect --json` prints it: the header, the actors with their steps, the "
        "pictures; dicts and lists.");
  m.def("pack", &Pack, py::arg("script"), py::arg("out_path"), py::arg("base_dir") = py::none(),
        R"(Builds a package from a script, as `tiko pack` does.

script: a dict of the form a JSON script holds (see docs/authoring.md), or
the path of a JSON script file. A picture's "file" is a PNG file's name,
relative to base_dir (default: the current folder for a dict, the script's
folder for a file), or a (height, width, 4) uint8 RGBA array.)");
  m.def("unpack", &Unpack, py::arg("path"), py::arg("out_dir"),
        "Writes a package's pictures as PNG files, its script as package.json and its cue waves into out_dir, as "
        "`tiko unpack` does.");
}

}  // namespace tiko::python
