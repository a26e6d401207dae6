#include "sqlhost/util/results_utilities.h"

#include <zlib.h>

#include <array>
#include <cstring>
#include <optional>

#include "pramble/host/errors.h"
#include "pramble/host/r_process.h"
#include "pramble/host/value.h"

namespace pramble::sqlhost {
namespace {

constexpr char kBase64Alphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::string Base64Encode(const std::string& bytes) {
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  std::size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    const std::uint32_t v = static_cast<unsigned char>(bytes[i]) << 16 |
                            static_cast<unsigned char>(bytes[i + 1]) << 8 |
                            static_cast<unsigned char>(bytes[i + 2]);
    out += kBase64Alphabet[v >> 18];
    out += kBase64Alphabet[(v >> 12) & 63];
    out += kBase64Alphabet[(v >> 6) & 63];
    out += kBase64Alphabet[v & 63];
  }
  const std::size_t rest = bytes.size() - i;
  if (rest > 0) {
    std::uint32_t v = static_cast<unsigned char>(bytes[i]) << 16;
    if (rest == 2) v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
    out += kBase64Alphabet[v >> 18];
    out += kBase64Alphabet[(v >> 12) & 63];
    out += rest == 2 ? kBase64Alphabet[(v >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

std::optional<std::string> Base64Decode(const char* text, std::size_t size) {
  static const std::array<int, 256> kValues = [] {
    std::array<int, 256> values;
    values.fill(-1);
    for (int i = 0; i < 64; ++i) values[static_cast<unsigned char>(kBase64Alphabet[i])] = i;
    return values;
  }();
  if (size % 4 != 0) return std::nullopt;
  std::string out;
  out.reserve(size / 4 * 3);
  for (std::size_t i = 0; i < size; i += 4) {
    const bool last = i + 4 == size;
    int v[4];
    int padding = 0;
    for (int k = 0; k < 4; ++k) {
      const char c = text[i + k];
      if (c == '=' && last && k >= 2) {
        v[k] = 0;
        ++padding;
      } else if (padding > 0 || (v[k] = kValues[static_cast<unsigned char>(c)]) < 0) {
        return std::nullopt;
      }
    }
    const std::uint32_t bits = v[0] << 18 | v[1] << 12 | v[2] << 6 | v[3];
    out += static_cast<char>(bits >> 16);
    if (padding < 2) out += static_cast<char>((bits >> 8) & 0xFF);
    if (padding < 1) out += static_cast<char>(bits & 0xFF);
  }
  return out;
}

// Inflates a whole zlib stream; nullopt unless it is complete and valid.
std::optional<std::string> Inflate(const std::string& stream) {
  z_stream z{};
  if (inflateInit(&z) != Z_OK) return std::nullopt;
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(stream.data()));
  z.avail_in = static_cast<uInt>(stream.size());
  std::string out;
  char buf[64 * 1024];
  int rc;
  do {
    z.next_out = reinterpret_cast<Bytef*>(buf);
    z.avail_out = sizeof buf;
    rc = inflate(&z, Z_NO_FLUSH);
    if (rc != Z_OK && rc != Z_STREAM_END) break;
    out.append(buf, sizeof buf - z.avail_out);
  } while (rc != Z_STREAM_END && (z.avail_in > 0 || z.avail_out == 0));
  const bool complete = rc == Z_STREAM_END && z.avail_in == 0;
  inflateEnd(&z);
  if (!complete) return std::nullopt;
  return out;
}

std::optional<std::string> Decode(const std::string& text) {
  const std::size_t marker = std::strlen(kCompressedTextMarker);
  if (text.compare(0, marker, kCompressedTextMarker) != 0) return std::nullopt;
  auto stream = Base64Decode(text.data() + marker, text.size() - marker);
  if (!stream) return std::nullopt;
  return Inflate(*stream);
}

// The value of a Jet default-value expression.
host::Value DefaultValueOf(const std::string& expression) {
  if (expression.empty()) return host::Value{};
  if (expression.size() >= 2 && expression.front() == '"' && expression.back() == '"') {
    std::string text;
    for (std::size_t i = 1; i + 1 < expression.size(); ++i) {
      text += expression[i];
      if (expression[i] == '"' && expression[i + 1] == '"') ++i;
    }
    return text;
  }
  if (host::IsNumeric(expression)) return host::ParseNumber(expression);
  return expression;
}

}  // namespace

std::string SqliteResultsUtilities::GetEngineStatusText(std::int32_t engine_status) {
  switch (engine_status) {
    case host::kEngineStopped: return "Stopped";
    case host::kEngineFinished: return "Finished";
    case host::kEngineFinishedWithWarnings: return "Finished with warnings";
    case host::kEngineReportedError: return "R reported an error";
    case host::kEngineEndedAbnormally: return "R ended abnormally";
    case host::kEngineKilled: return "R was killed";
    case host::kEngineNotStarted: return "R could not be started";
    default: return "Unknown status " + std::to_string(engine_status);
  }
}

std::string SqliteResultsUtilities::CompressText(const std::string& text) {
  uLongf size = compressBound(static_cast<uLong>(text.size()));
  std::string stream(size, '\0');
  const int rc = compress2(reinterpret_cast<Bytef*>(stream.data()), &size,
                           reinterpret_cast<const Bytef*>(text.data()),
                           static_cast<uLong>(text.size()), Z_DEFAULT_COMPRESSION);
  if (rc != Z_OK)
    throw host::HostError(rc == Z_MEM_ERROR ? 7 : 51,
                          std::string("cannot compress text: ") + zError(rc));
  stream.resize(size);
  return kCompressedTextMarker + Base64Encode(stream);
}

void SqliteResultsUtilities::AddLongField(host::dao::TableDef& table, const std::string& name,
                                        std::int32_t /*attributes*/, bool required) {
  host::dao::FieldDef field;
  field.name = name;
  field.type = host::dao::kLong;
  field.required = required;
  table.AppendField(field);
}

void SqliteResultsUtilities::AddMemoField(host::dao::TableDef& table, const std::string& name,
                                        const std::string& default_value,
                                        bool allow_zero_length) {
  host::dao::FieldDef field;
  field.name = name;
  field.type = host::dao::kMemo;
  field.allow_zero_length = allow_zero_length;
  field.default_value = DefaultValueOf(default_value);
  table.AppendField(field);
}

void SqliteResultsUtilities::AddPrimaryKey(host::dao::TableDef& table, const std::string& field_name,
                                         const std::string& second_field,
                                         const std::string& third_field) {
  std::vector<std::string> fields{field_name};
  if (!second_field.empty()) fields.push_back(second_field);
  if (!third_field.empty()) fields.push_back(third_field);
  table.AddPrimaryKey(fields);
}

bool IsCompressedText(const std::string& text) { return Decode(text).has_value(); }

std::string DecompressText(const std::string& text) {
  auto plain = Decode(text);
  return plain ? *std::move(plain) : text;
}

}  // namespace pramble::sqlhost
