// The serialized record byte for byte, its hexadecimal and binary file forms, the whole-file
// form and keyed storage; and that damaged input fails cleanly.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <unistd.h>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "vartree/serial_tvar.h"
#include "vartree/tvar.h"
#include "vartree/vel_storage.h"

namespace {

using Bytes = std::vector<uint8_t>;

void PutU32(Bytes& b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
void PutDouble(Bytes& b, double d) {
  uint64_t bits;
  std::memcpy(&bits, &d, 8);
  for (int i = 0; i < 8; ++i) b.push_back(static_cast<uint8_t>(bits >> (8 * i)));
}
void PutName(Bytes& b, const std::string& name) {
  PutU32(b, static_cast<uint32_t>(name.size() + 1));
  b.insert(b.end(), name.begin(), name.end());
  b.push_back(0);
}
// A childless number record with an empty format.
Bytes Leaf(double number, uint32_t header = 0) {
  Bytes b;
  PutU32(b, header);
  PutDouble(b, number);
  b.insert(b.end(), kTVarFormatSize, 0);
  PutU32(b, 0);
  return b;
}

int Apply(CtVar& node, const Bytes& b) {
  return node.UnSerializeTree(b.data(), static_cast<uint32_t>(b.size()));
}

// Two-level tree with every value type.
void Populate(CtVar& root) {
  root["AppVar.Num"] = 2.5;
  root["AppVar.Num"].SetFormat("%6.3f");
  root["AppVar.Text"] = "hello";
  const uint8_t data[] = {0, 1, 2, 255};
  root["AppVar.Data"].SetData(data, 4);
  root["AppVar.Arr"][3] = 7.0;
  root["AppVar.Arr"][1] = 8.0;
  root["Other"].SetOptions(TVAR_OPT_RESULT_VAR);
}

TEST(Record, LeafTextAndBranchLayouts) {
  CtVar leaf("v", nullptr, nullptr);
  leaf = 2.5;
  EXPECT_EQ(leaf.SerializeTreeSize(), 26u);
  EXPECT_EQ(leaf.SerializeTree(), Leaf(2.5));

  CtVar text("t", nullptr, nullptr);
  text = "0123456789";
  text = "abc";
  Bytes want;
  PutU32(want, OZK_TVAR_STRING);
  PutU32(want, 12);
  for (char c : std::string("abc\0"
                            "456789\0\0",
                            12))
    want.push_back(static_cast<uint8_t>(c));
  want.insert(want.end(), kTVarFormatSize, 0);
  PutU32(want, 0);
  EXPECT_EQ(text.SerializeTree(), want);

  CtVar branch;
  branch["A"] = 1.0;
  branch["B"] = 2.0;
  branch["B"].SetFormat("%d");
  branch["B"].SetOptions(0x10402);
  want = Leaf(0, OZK_TVAR_NONE);
  want.resize(want.size() - 4);
  PutU32(want, 2);
  PutName(want, "A");
  const Bytes a = Leaf(1.0);
  want.insert(want.end(), a.begin(), a.end());
  PutName(want, "B");
  Bytes b = Leaf(2.0, 0x0402u << 16);  // only the low 16 option bits travel
  b[12] = '%';
  b[13] = 'd';
  want.insert(want.end(), b.begin(), b.end());
  ASSERT_EQ(want.size(), 90u);
  EXPECT_EQ(branch.SerializeTreeSize(), 90u);
  EXPECT_EQ(branch.SerializeTree(), want);
}

TEST(Record, TooSmallBufferFailsAfterWritingWhatFits) {
  CtVar leaf("v", nullptr, nullptr);
  leaf = 2.5;
  Bytes buf(20, 0xAA);
  EXPECT_EQ(leaf.SerializeTree(buf.data(), 20), 0);
  const Bytes leaf_record = Leaf(2.5);
  EXPECT_EQ(Bytes(buf.begin(), buf.begin() + 12),
            Bytes(leaf_record.begin(), leaf_record.begin() + 12));
  EXPECT_EQ(buf[12], 0xAA);  // the 10-byte format did not fit and was not written
}

TEST(Record, ReadingMergesIntoAnExistingTree) {
  CtVar src;
  src["A"] = 1.0;
  src["B"] = 2.0;
  CtVar dst;
  dst["X"] = 5.0;
  dst["A"] = 9.0;
  dst["A.Keep"] = 3.0;
  dst.SetOptions(TVAR_OPT_NO_DEST_REGISTER | TVAR_OPT_SYSTEM);
  ASSERT_EQ(Apply(dst, src.SerializeTree()), 1);
  EXPECT_EQ(static_cast<double>(dst["X"]), 5.0);
  EXPECT_EQ(static_cast<double>(dst["A"]), 1.0);
  EXPECT_EQ(static_cast<double>(dst["A.Keep"]), 3.0);
  EXPECT_EQ(static_cast<double>(dst["B"]), 2.0);
  // Bit 0x100 survives a read; the rest comes from the record.
  EXPECT_EQ(dst.GetOptions(), TVAR_OPT_NO_DEST_REGISTER);
}

TEST(Record, ChildNameLengthLimit) {
  for (uint32_t length : {120u, 121u, 0xFFFFFFFFu}) {
    Bytes rec = Leaf(0, OZK_TVAR_NONE);
    rec.resize(rec.size() - 4);
    PutU32(rec, 1);
    PutU32(rec, length);
    rec.insert(rec.end(), std::min(length, 121u) - 1, 'n');
    rec.push_back(0);
    const Bytes child = Leaf(4.0);
    rec.insert(rec.end(), child.begin(), child.end());
    CtVar root;
    const int ok = Apply(root, rec);
    EXPECT_EQ(ok, length == 120u ? 1 : 0) << length;
    EXPECT_EQ(root.GetNumChildren(), length == 120u ? 1u : 0u) << length;
    if (ok) {
      EXPECT_EQ(root.GetFirstChild()->NameView(), std::string(59, 'n'));
    }
  }
}

TEST(Record, EveryTruncationFailsCleanly) {
  CtVar src;
  Populate(src);
  const Bytes rec = src.SerializeTree();
  const int64_t live = CtVar::LiveCount();
  for (size_t n = 0; n < rec.size(); ++n) {
    CtVar dst;
    EXPECT_EQ(dst.UnSerializeTree(rec.data(), static_cast<uint32_t>(n)), 0) << n;
  }
  EXPECT_EQ(CtVar::LiveCount(), live);
}

TEST(Record, HostileSizesAndTextsAreContained) {
  // A text value that claims 4 GB, and one that carries no terminating zero.
  Bytes huge;
  PutU32(huge, OZK_TVAR_STRING);
  PutU32(huge, 0xFFFFFFF0u);
  huge.insert(huge.end(), 16, 'x');
  CtVar a("a", nullptr, nullptr);
  EXPECT_EQ(Apply(a, huge), 0);

  Bytes open;
  PutU32(open, OZK_TVAR_STRING);
  PutU32(open, 3);
  open.insert(open.end(), {'x', 'y', 'z'});
  open.insert(open.end(), kTVarFormatSize, 0);
  PutU32(open, 0);
  CtVar b("b", nullptr, nullptr);
  ASSERT_EQ(Apply(b, open), 1);
  EXPECT_EQ(std::strlen(static_cast<const char*>(b)), 3u);
  EXPECT_EQ(b.GetValueStr(), "xyz");
}

// ---------------------------------------------------------------------------------------------
// File forms

std::string FileText(FILE* f) {
  std::fflush(f);
  std::string out;
  std::rewind(f);
  for (int c; (c = std::fgetc(f)) != EOF;) out += static_cast<char>(c);
  return out;
}

FILE* TextFile(const std::string& text) {
  FILE* f = std::tmpfile();
  std::fputs(text.c_str(), f);
  std::rewind(f);
  return f;
}

std::string Hex(const Bytes& b) {
  std::string out;
  char h[3];
  for (uint8_t v : b) std::snprintf(h, sizeof h, "%02x", v), out += h;
  return out;
}

TEST(HexFile, LayoutOfOneAndTwoLines) {
  CtVar node("T", nullptr, nullptr);
  node = "abcdefghijklmnopq";  // 17 characters in a 19-byte buffer: a 41-byte record
  const Bytes rec = node.SerializeTree();
  ASSERT_EQ(rec.size(), 41u);
  uint32_t sum = 0;
  for (uint8_t v : rec) sum += v;
  char check[16];
  std::snprintf(check, sizeof check, "%08x", sum);
  FILE* f = std::tmpfile();
  ASSERT_EQ(node.WriteFile(f, OZK_TVAR_FILE_HEX), 1);
  const std::string all = Hex(rec);
  EXPECT_EQ(FileText(f), "\n[41:T]\n" + all.substr(0, 80) + "\n" + all.substr(80) + check + "\n");
  std::fclose(f);

  CtVar root;
  root = 2.5;
  f = std::tmpfile();
  ASSERT_EQ(root.WriteFile(f, OZK_TVAR_FILE_HEX), 1);
  const std::string text = FileText(f);
  std::fclose(f);
  EXPECT_EQ(text.substr(0, 9), "\n[26:]\n" + Hex(Leaf(2.5)).substr(0, 2));
  EXPECT_EQ(text.size(), 7u + 52u + 8u + 1u);
}

TEST(HexFile, TwoTreesFollowOneAnotherAfterOtherText) {
  CtVar first, second;
  Populate(first);
  second["Only"] = "second";
  FILE* f = std::tmpfile();
  std::fputs("leading text without a bracket\n", f);
  ASSERT_EQ(first.WriteFile(f, OZK_TVAR_FILE_HEX), 1);
  ASSERT_EQ(second.WriteFile(f, OZK_TVAR_FILE_HEX), 1);
  std::rewind(f);
  CtVar a, b, c;
  EXPECT_EQ(a.ReadFile(f, OZK_TVAR_FILE_HEX), 1);
  EXPECT_EQ(b.ReadFile(f, OZK_TVAR_FILE_HEX), 1);
  EXPECT_EQ(c.ReadFile(f, OZK_TVAR_FILE_HEX), 0);  // nothing more
  std::fclose(f);
  EXPECT_EQ(a.SerializeTree(), first.SerializeTree());
  EXPECT_EQ(b.SerializeTree(), second.SerializeTree());
}

TEST(HexFile, DamagedTextAppliesNothing) {
  CtVar src;
  Populate(src);
  FILE* f = std::tmpfile();
  ASSERT_EQ(src.WriteFile(f, OZK_TVAR_FILE_HEX), 1);
  const std::string good = FileText(f);
  std::fclose(f);
  std::string bad_sum = good;
  bad_sum[bad_sum.size() - 2] = bad_sum[bad_sum.size() - 2] == '0' ? '1' : '0';
  std::string bad_byte = good;
  const size_t first_digit = good.find(']') + 2;
  bad_byte[first_digit] = bad_byte[first_digit] == '0' ? '1' : '0';
  const std::string cases[] = {bad_sum,
                               bad_byte,
                               good.substr(0, good.size() / 2),
                               good.substr(0, good.size() - 5),
                               "\n[12",
                               "\n[x:]00",
                               "no bracket"};
  for (const std::string& text : cases) {
    FILE* in = TextFile(text);
    CtVar dst;
    dst["Existing"] = 1.0;
    EXPECT_EQ(dst.ReadFile(in, OZK_TVAR_FILE_HEX), 0) << text.size();
    EXPECT_EQ(dst.GetNumChildren(), 1u);
    std::fclose(in);
  }
}

TEST(BinaryFile, RoundTripAndShortFile) {
  CtVar src;
  Populate(src);
  FILE* f = std::tmpfile();
  ASSERT_EQ(src.WriteFile(f, OZK_TVAR_FILE_BINARY), 1);
  const std::string bytes = FileText(f);
  const Bytes rec = src.SerializeTree();
  ASSERT_EQ(bytes.size(), 4 + rec.size());
  uint32_t size;
  std::memcpy(&size, bytes.data(), 4);
  EXPECT_EQ(size, rec.size());
  EXPECT_EQ(Bytes(bytes.begin() + 4, bytes.end()), rec);
  std::rewind(f);
  CtVar dst;
  EXPECT_EQ(dst.ReadFile(f, OZK_TVAR_FILE_BINARY), 1);
  EXPECT_EQ(dst.SerializeTree(), rec);
  std::fclose(f);

  for (size_t cut : {size_t{2}, size_t{4}, bytes.size() - 1}) {
    FILE* in = std::tmpfile();
    std::fwrite(bytes.data(), 1, cut, in);
    std::rewind(in);
    CtVar part;
    EXPECT_EQ(part.ReadFile(in, OZK_TVAR_FILE_BINARY), 0) << cut;
    EXPECT_EQ(part.GetNumChildren(), 0u) << cut;
    std::fclose(in);
  }
}

TEST(FileForms, WholeFileHoldsTheRawRecord) {
  CtVar src;
  Populate(src);
  char dir[] = "/tmp/tvar_file_XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string path = std::string(dir) + "/tree.bin";
  const std::wstring wpath(path.begin(), path.end());
  ASSERT_EQ(src.WriteFile(wpath.c_str()), 1);
  FILE* f = std::fopen(path.c_str(), "rb");
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(FileText(f), std::string(reinterpret_cast<const char*>(src.SerializeTree().data()),
                                     src.SerializeTreeSize()));
  std::fclose(f);
  CtVar dst;
  EXPECT_EQ(dst.ReadFile(wpath.c_str()), 1);
  EXPECT_TRUE(dst.IsSameTreeStructureAs(&src));
  EXPECT_EQ(dst.ReadFile(L"/nonexistent/dir/tree.bin"), 0);
  std::remove(path.c_str());
  rmdir(dir);
}

// ---------------------------------------------------------------------------------------------
// Keyed storage

// Named integers and named byte blocks in memory; enough of a storage for the tree.
class MemoryStorage : public XVelStorage {
 public:
  int Open(const std::wstring&) override { return 0; }
  int Close() override { return 0; }
  int Create(const std::wstring&) override { return 0; }
  int Commit() override { return 0; }
  int WriteData(const std::string&, const void*, uint32_t) override { return 0; }
  int WriteString(const std::string&, const std::string&) override { return 0; }
  int WriteByte(const std::string&, uint8_t) override { return 0; }
  int WriteDouble(const std::string&, double) override { return 0; }
  int WriteFloat(const std::string&, float) override { return 0; }
  int WriteDword(const std::string&, uint32_t) override { return 0; }
  int WriteLong(const std::string& name, int32_t value) override {
    longs[name] = value;
    return 0;
  }
  int BeginBlock(const std::string& name) override {
    writing = &blocks[name];
    writing->clear();
    return 0;
  }
  int WriteBytes(const void* bytes, uint32_t length) override {
    if (!writing) return storage_code::kNotOpen;
    const auto* p = static_cast<const uint8_t*>(bytes);
    writing->insert(writing->end(), p, p + length);
    return 0;
  }
  int ReadData(const std::string&, std::vector<uint8_t>*) override { return 10; }
  int ReadString(const std::string&, std::string*, uint32_t, const std::string&) override {
    return 10;
  }
  int ReadByte(const std::string&, uint8_t*, uint8_t) override { return 10; }
  int ReadDouble(const std::string&, double*, double) override { return 10; }
  int ReadFloat(const std::string&, float*, float) override { return 10; }
  int ReadDword(const std::string&, uint32_t*, uint32_t) override { return 10; }
  int ReadLong(const std::string& name, int32_t* out, int32_t default_value) override {
    auto it = longs.find(name);
    *out = it == longs.end() ? default_value : it->second;
    return it == longs.end() ? storage_code::kNoItem : 0;
  }
  int SeekBlock(const std::string& name) override {
    auto it = blocks.find(name);
    if (it == blocks.end()) return storage_code::kNoItem;
    reading = &it->second;
    read_pos = 0;
    return 0;
  }
  int ReadBytes(void* buffer, uint32_t length) override {
    if (!reading || read_pos + length > reading->size()) return storage_code::kBadData;
    std::memcpy(buffer, reading->data() + read_pos, length);
    read_pos += length;
    return 0;
  }
  int DropCache(const std::wstring*) override { return 0; }
  int ReadFixed(const std::string&, void*, uint32_t) override { return 10; }
  int ReadFixedAt(uint32_t, void*, uint32_t) override { return 10; }
  const std::string* GetItemName(uint32_t) override { return nullptr; }
  uint32_t GetItemCount() override { return 0; }

  std::map<std::string, int32_t> longs;
  std::map<std::string, Bytes> blocks;
  Bytes* writing = nullptr;
  Bytes* reading = nullptr;
  size_t read_pos = 0;
};

TEST(Storage, SaveWritesVersionAndNamedBlock) {
  CtVar holder;
  CtVar& app = holder["AppVar"];
  Populate(app);
  MemoryStorage storage;
  ASSERT_EQ(app.Save(&storage), 1);
  EXPECT_EQ(storage.longs["CtVarVersion"], 1);
  ASSERT_EQ(storage.blocks.count("CtVar_AppVar"), 1u);
  EXPECT_EQ(storage.blocks["CtVar_AppVar"], app.SerializeTree());

  CtVar loaded("AppVar", nullptr, nullptr);
  EXPECT_EQ(loaded.Load(&storage), 1);
  EXPECT_EQ(loaded.SerializeTree(), app.SerializeTree());
  CtVar other("Elsewhere", nullptr, nullptr);
  EXPECT_EQ(other.Load(&storage), 0);

  CtVar unnamed;
  unnamed["x"] = 1.0;
  ASSERT_EQ(unnamed.Save(&storage), 1);
  EXPECT_EQ(storage.blocks.count("CtVar_CtVar"), 1u);
}

TEST(Storage, OldStorageWithoutVersionHasNoFormatField) {
  CtVar src("AppVar", nullptr, nullptr);
  src["a"] = 1.5;
  src["b"] = "x";
  MemoryStorage storage;
  storage.BeginBlock("CtVar_AppVar");
  CSerialTvar old_stream(&storage, 0);
  ASSERT_EQ(src.SaveStoredVar(&old_stream), 1);
  EXPECT_EQ(storage.blocks["CtVar_AppVar"].size(), src.SerializeTreeSize() - 3 * kTVarFormatSize);

  CtVar dst("AppVar", nullptr, nullptr);
  EXPECT_EQ(dst.Load(&storage), 1);
  EXPECT_EQ(static_cast<double>(dst["a"]), 1.5);
  EXPECT_EQ(dst["b"].GetValueStr(), "x");

  // A damaged block still counts as found; what was read stays.
  storage.blocks["CtVar_AppVar"].resize(30);
  CtVar partial("AppVar", nullptr, nullptr);
  EXPECT_EQ(partial.Load(&storage), 1);
}

}  // namespace
