#include "update/json_reader.h"

#include <cmath>
#include <cstdlib>
#include <nlohmann/json.hpp>

#include "base/failure.h"

namespace muvra::json {

namespace {

// nlohmann/json refuses a whole text for one number beyond the range of a double, where the
// Windows facility reads an infinity; such a number becomes the largest double of its sign,
// which every range check refuses just the same.
std::string clampOverflowingNumbers(std::string_view text) {
  std::string clamped;
  clamped.reserve(text.size());
  bool inString = false;
  for (std::size_t i = 0; i < text.size();) {
    const char c = text[i];
    const bool startsNumber = !inString && (c == '-' || (c >= '0' && c <= '9'));
    if (!startsNumber) {
      const bool escaped = inString && c == '\\' && i + 1 < text.size();
      clamped.append(text.substr(i, escaped ? 2 : 1));
      inString = c == '"' ? !inString : inString;
      i += escaped ? 2 : 1;
      continue;
    }
    const std::size_t end = std::min(text.find_first_not_of("+-0123456789.eE", i), text.size());
    std::string token(text.substr(i, end - i));
    const double value = std::strtod(token.c_str(), nullptr);
    if (std::isinf(value)) {
      token = value > 0 ? "1.7976931348623157e308" : "-1.7976931348623157e308";
    }
    clamped += token;
    i = end;
  }
  return clamped;
}

}  // namespace

JsonObject::JsonObject(std::shared_ptr<const nlohmann::json> document, const nlohmann::json* node)
    : document_(std::move(document)), node_(node) {}

JsonObject JsonObject::parse(std::string_view text) {
  auto document = std::make_shared<nlohmann::json>(
      nlohmann::json::parse(clampOverflowingNumbers(text), nullptr, /*allow_exceptions=*/false));
  if (!document->is_object()) {  // also the discarded value of a parse error
    throw PlatformError(kInvalidJsonString);
  }
  const nlohmann::json* root = document.get();
  return JsonObject(std::move(document), root);
}

const nlohmann::json* JsonObject::find(std::string_view name) const {
  const auto it = node_->find(name);
  return it == node_->end() ? nullptr : &*it;
}

const nlohmann::json& JsonObject::member(std::string_view name) const {
  const nlohmann::json* value = find(name);
  if (value == nullptr) {
    throw PlatformError(kValueNotFound);
  }
  return *value;
}

bool JsonObject::isNull(std::string_view name) const {
  const nlohmann::json* value = find(name);
  return value != nullptr && value->is_null();
}

bool JsonObject::getNamedBoolean(std::string_view name, bool defaultValue) const {
  const nlohmann::json* value = find(name);
  if (value == nullptr) {
    return defaultValue;
  }
  if (!value->is_boolean()) {
    throw PlatformError(kWrongType);
  }
  return value->get<bool>();
}

std::string JsonObject::getNamedString(std::string_view name) const {
  const nlohmann::json& value = member(name);
  if (!value.is_string()) {
    throw PlatformError(kWrongType);
  }
  return value.get<std::string>();
}

std::string JsonObject::getNamedString(std::string_view name, std::string_view defaultValue) const {
  if (find(name) == nullptr) {
    return std::string(defaultValue);
  }
  return getNamedString(name);
}

double JsonObject::getNamedNumber(std::string_view name) const {
  const nlohmann::json& value = member(name);
  if (!value.is_number()) {
    throw PlatformError(kWrongType);
  }
  return value.get<double>();
}

JsonArray JsonObject::getNamedArray(std::string_view name) const {
  const nlohmann::json& value = member(name);
  if (!value.is_array()) {
    throw PlatformError(kWrongType);
  }
  return JsonArray(document_, &value);
}

JsonArray::JsonArray(std::shared_ptr<const nlohmann::json> document, const nlohmann::json* node)
    : document_(std::move(document)), node_(node) {}

std::size_t JsonArray::size() const {
  return node_->size();
}

JsonObject JsonArray::getObjectAt(std::size_t index) const {
  const nlohmann::json& element = node_->at(index);
  if (!element.is_object()) {
    throw PlatformError(kWrongType);
  }
  return JsonObject(document_, &element);
}

}  // namespace muvra::json
