#pragma once
// Enumerations carried by answer records, declared as a list of allowed
// values and passed through unchanged:
//
//   struct AccessRoleNames {
//     static constexpr std::string_view type = "AccessRole";
//     static constexpr std::array<std::string_view, 2> names{"Guest", "Owner"};
//   };
//   using AccessRole = NamedEnum<AccessRoleNames>;      // JSON strings, exact match
//
//   struct RepoStatusCodes { static constexpr std::array<std::int64_t, 3> codes{0, 1, 2}; };
//   using RepoStatus = CodeEnum<RepoStatusCodes>;        // JSON integers
#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "json/record.hpp"

namespace qel::json {

template <class Names>
struct NamedEnum {
  std::string name;
};

template <class Codes>
struct CodeEnum {
  std::int64_t code = 0;
};

template <class Names>
struct Codec<NamedEnum<Names>> {
  static bool decode(const Value& v, NamedEnum<Names>& out, DecodeError& err) {
    const std::string* name = nullptr;
    if (v.is_string()) {
      name = &v.get_ref<const std::string&>();
    } else if (v.is_object() && v.size() == 1 && v.begin().value().is_null()) {
      name = &v.begin().key();  // the unit-variant form {"Name": null}
    } else {
      return mismatch(err, v, "enum " + std::string(Names::type));
    }
    if (std::find(Names::names.begin(), Names::names.end(), *name) == Names::names.end()) {
      std::string message = "unknown variant `" + *name + "`, expected one of ";
      for (std::size_t i = 0; i < Names::names.size(); ++i) {
        if (i) message += ", ";
        message += "`" + std::string(Names::names[i]) + "`";
      }
      return fail(err, std::move(message));
    }
    out.name = *name;
    return true;
  }
  static void encode(std::string& out, const NamedEnum<Names>& e) { write_string(out, e.name); }
};

template <class Codes>
struct Codec<CodeEnum<Codes>> {
  static bool decode(const Value& v, CodeEnum<Codes>& out, DecodeError& err) {
    if (!v.is_number_unsigned()) return mismatch(err, v, "u8");
    auto value = v.get<std::uint64_t>();
    for (auto code : Codes::codes) {
      if (static_cast<std::uint64_t>(code) == value) {
        out.code = code;
        return true;
      }
    }
    std::string message = "invalid value: " + std::to_string(value) + ", expected one of: ";
    for (std::size_t i = 0; i < Codes::codes.size(); ++i) {
      if (i) message += ", ";
      message += std::to_string(Codes::codes[i]);
    }
    return fail(err, std::move(message));
  }
  static void encode(std::string& out, const CodeEnum<Codes>& e) { write_int(out, e.code); }
};

}  // namespace qel::json
