#include "sqlhost/util/results_utilities.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace pramble::sqlhost {
namespace {

TEST(CompressTextTest, RoundTrips) {
  std::mt19937 random(7);
  std::string noise(300000, '\0');
  for (char& c : noise) c = static_cast<char>(random());
  std::string log;
  for (int i = 0; i < 5000; ++i) log += "Reading Results " + std::to_string(i) + "\r\n";
  const std::string texts[] = {"", "x", "Grüße, 日本語 — ünïcödé\n", log, noise,
                               std::string(kCompressedTextMarker)};
  SqliteResultsUtilities results;
  for (const auto& text : texts) {
    const std::string packed = results.CompressText(text);
    EXPECT_EQ(packed.rfind(kCompressedTextMarker, 0), 0u);
    EXPECT_EQ(packed.find_first_not_of(
                  "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/=",
                  sizeof kCompressedTextMarker - 1),
              std::string::npos)
        << "the compressed form is plain text";
    EXPECT_TRUE(IsCompressedText(packed));
    EXPECT_EQ(DecompressText(packed), text);
  }
  EXPECT_LT(results.CompressText(log).size(), log.size() / 5);
}

TEST(CompressTextTest, PlainTextIsNotTakenForCompressed) {
  SqliteResultsUtilities results;
  const std::string valid = results.CompressText("hello world");
  const std::string marker = kCompressedTextMarker;
  const std::string texts[] = {
      "",
      "hello world",
      "eJzLSM3JyVcozy/KSQEAGgQEXQ==",                 // a zlib stream without the marker
      marker,                                        // the marker alone
      marker + "not base64!",
      marker + "aGVsbG8=",                           // base64, but not zlib
      valid.substr(0, valid.size() - 4),             // cut short
      valid + "AAAA",                                // trailing bytes
      " " + valid,                                   // not at the start
  };
  for (const auto& text : texts) {
    EXPECT_FALSE(IsCompressedText(text)) << text;
    EXPECT_EQ(DecompressText(text), text);
  }
}

class RecordingTableDef : public host::dao::TableDef {
 public:
  std::string Name() const override { return "AnalysisQuoxResults"; }
  void AppendField(const host::dao::FieldDef& field) override { fields.push_back(field); }
  std::vector<host::dao::FieldDef> FieldDefs() const override { return fields; }
  void AddPrimaryKey(const std::vector<std::string>& names) override { key = names; }

  std::vector<host::dao::FieldDef> fields;
  std::vector<std::string> key;
};

TEST(TableUtilitiesTest, ResultsTableFields) {
  SqliteResultsUtilities results;
  RecordingTableDef table;
  results.AddLongField(table, "ID", 0, true);
  results.AddMemoField(table, "Output", "\"\"", true);
  results.AddMemoField(table, "Log", "\"say \"\"hi\"\"\"", false);
  results.AddMemoField(table, "Other", "", true);
  results.AddPrimaryKey(table, "ID", "", "");
  std::string shown;
  for (const auto& f : table.fields)
    shown += f.name + ":" + std::to_string(f.type) + (f.required ? " required" : "") +
             (f.allow_zero_length ? " empty" : "") + " = " +
             (host::IsNull(f.default_value) ? "<null>" : host::ToText(f.default_value)) + "; ";
  EXPECT_EQ(shown, "ID:4 required empty = <null>; Output:12 empty = ; Log:12 = say \"hi\"; "
                   "Other:12 empty = <null>; ");
  EXPECT_EQ(table.key, std::vector<std::string>{"ID"});
  results.AddPrimaryKey(table, "ID", "Code", "Part");
  EXPECT_EQ(table.key, (std::vector<std::string>{"ID", "Code", "Part"}));
}

}  // namespace
}  // namespace pramble::sqlhost
