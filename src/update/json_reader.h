#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <nlohmann/json_fwd.hpp>
#include <string>
#include <string_view>

// Typed access to a JSON document with the failure kinds of the Windows JSON facility: every
// failure is a PlatformError carrying one of the status codes below.
namespace muvra::json {

inline constexpr std::uint32_t kInvalidJsonString = 0x83750007;  // WEB_E_INVALID_JSON_STRING
inline constexpr std::uint32_t kValueNotFound = 0x83750009;      // WEB_E_JSON_VALUE_NOT_FOUND
inline constexpr std::uint32_t kWrongType = 0x8000000E;          // E_ILLEGAL_METHOD_CALL

class JsonArray;

class JsonObject {
 public:
  // Parses the whole text; it must be one JSON object.
  static JsonObject parse(std::string_view text);

  // Whether the member is present and holds null.
  bool isNull(std::string_view name) const;
  bool getNamedBoolean(std::string_view name, bool defaultValue) const;
  std::string getNamedString(std::string_view name) const;
  std::string getNamedString(std::string_view name, std::string_view defaultValue) const;
  double getNamedNumber(std::string_view name) const;
  JsonArray getNamedArray(std::string_view name) const;

 private:
  friend class JsonArray;
  JsonObject(std::shared_ptr<const nlohmann::json> document, const nlohmann::json* node);
  const nlohmann::json& member(std::string_view name) const;
  const nlohmann::json* find(std::string_view name) const;

  std::shared_ptr<const nlohmann::json> document_;
  const nlohmann::json* node_;
};

class JsonArray {
 public:
  std::size_t size() const;
  JsonObject getObjectAt(std::size_t index) const;

 private:
  friend class JsonObject;
  JsonArray(std::shared_ptr<const nlohmann::json> document, const nlohmann::json* node);

  std::shared_ptr<const nlohmann::json> document_;
  const nlohmann::json* node_;
};

}  // namespace muvra::json
