// JsonValue: one value as the JSON library's SAX parser announces it, a
// scalar or the opening of an array or object, so that one function can
// decide what a value means wherever it stands.
#pragma once

#include <cstdint>
#include <string>

namespace ferolin::policy_file {

struct JsonValue {
  enum class Kind { Null, Boolean, Integer, Unsigned, Float, String, Array, Object };

  Kind kind = Kind::Null;
  bool boolean = false;
  std::int64_t integer = 0;
  std::uint64_t unsigned_integer = 0;
  double real = 0.0;
  // String: the parser's buffer, which the receiver may move from.
  std::string* text = nullptr;

  // Returns true for the opening of an array or an object.
  [[nodiscard]] bool opens() const { return kind == Kind::Array || kind == Kind::Object; }
  // Returns true for the three kinds of number.
  [[nodiscard]] bool is_number() const {
    return kind == Kind::Integer || kind == Kind::Unsigned || kind == Kind::Float;
  }
  // Returns a number as a 64-bit float, rounded to nearest as integers
  // convert; only when is_number().
  [[nodiscard]] double as_double() const {
    if (kind == Kind::Integer) return static_cast<double>(integer);
    if (kind == Kind::Unsigned) return static_cast<double>(unsigned_integer);
    return real;
  }
};

}  // namespace ferolin::policy_file
