// Behaviour of single nodes and of the tree: naming, ordering, paths, values, reference counts,
// reordering with the name index in use, and attachment to a destination manager.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "platform/text.h"
#include "vartree/tvar.h"

namespace {

using ::testing::ElementsAre;

std::vector<std::string> ChildNames(const CtVar& node) {
  std::vector<std::string> names;
  for (CtVar* c = node.GetFirstChild(); c; c = c->GetNextSibling())
    names.emplace_back(c->NameView());
  return names;
}

// A fresh child node on the heap, so that Release may delete it.
CtVar& Make(CtVar& parent, const char* name) {
  return *parent.GetChild(name, 0, 1, 0);
}

TEST(TVarCreate, NamesAreCutAndLoseTrailingBracket) {
  CtVar root;
  const std::string long_name(70, 'x');
  CtVar* a = root.GetChild(long_name.c_str(), 0, 1, 0);
  EXPECT_EQ(a->NameView(), std::string(59, 'x'));
  // Looking up the long name again finds the same node, not a second one.
  EXPECT_EQ(root.GetChild(long_name.c_str()), a);
  EXPECT_EQ(&root[long_name.c_str()], a);
  EXPECT_EQ(root.GetNumChildren(), 1u);

  CtVar b("Item]", nullptr, nullptr);
  EXPECT_EQ(b.NameView(), "Item");
  CtVar* c = root.GetChild("abcdef", 3, 1, 0);
  EXPECT_EQ(c->NameView(), "abc");
}

TEST(TVarCreate, ResultNamesStartWithTheirNumber) {
  struct Case {
    const char* name;
    double number;
  };
  for (const Case& c :
       {Case{"Passed", 1}, Case{"recycled", 2}, Case{"REJECTED", 3}, Case{"Passing", 0}}) {
    CtVar node(c.name, nullptr, nullptr);
    EXPECT_EQ(static_cast<double>(node), c.number) << c.name;
    EXPECT_EQ(node.GetStoredType(), static_cast<uint32_t>(OZK_TVAR_NONE)) << c.name;
  }
}

TEST(TVarCreate, ChildrenInheritOrderingAndRegisterBitsOnly) {
  CtVar root;
  CtVar& parent = root["P"];
  parent.SetOptions(TVAR_OPT_NO_NUMERIC_ORDER | TVAR_OPT_NO_DEST_REGISTER | TVAR_OPT_SYSTEM |
                    TVAR_OPT_RESULT_VAR);
  EXPECT_EQ(parent["C"].GetOptions(), TVAR_OPT_NO_NUMERIC_ORDER | TVAR_OPT_NO_DEST_REGISTER);
}

TEST(TVarCreate, NumericChildrenAreOrdered) {
  struct Case {
    std::vector<const char*> existing;
    const char* added;
    bool no_numeric_order;
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {{"2", "10", "7"}, "5", false, {"2", "10", "5", "7"}},
      {{"2", "10", "7"}, "5", true, {"2", "10", "7", "5"}},
      {{"2", "10", "7"}, "12", false, {"2", "10", "7", "12"}},
      {{"1", "3"}, "2", false, {"1", "2", "3"}},
      {{"0", "2000000"}, "5", false, {"0", "2000000", "5"}},  // no neighbour within 1,000,000
      {{"A", "3"}, "B", false, {"A", "3", "B"}},
      {{}, "9", false, {"9"}},
  };
  for (const Case& c : cases) {
    CtVar root;
    if (c.no_numeric_order) root.SetOptions(TVAR_OPT_NO_NUMERIC_ORDER);
    for (const char* n : c.existing) root.GetChild(n, 0, 1, 1);
    root.GetChild(c.added, 0, 1, 0);
    EXPECT_EQ(ChildNames(root), c.expected) << c.added;
  }
}

TEST(TVarCreate, IndexOperatorCreatesDecimalChild) {
  CtVar root;
  root[3] = 1.0;
  root[1] = 2.0;
  EXPECT_THAT(ChildNames(root), ElementsAre("1", "3"));
  EXPECT_EQ(root.UniqueChildName(), "4");
  root["x"];
  EXPECT_EQ(root.GetArrayDimension(), 2);
}

TEST(TVarPath, DottedPathsCreateAndFind) {
  CtVar root;
  CtVar& result = root["AppVar.Result"];
  EXPECT_EQ(result.GetVarFullName(1), "AppVar.Result");
  EXPECT_EQ(result.GetVarFullName(0), "Result");
  EXPECT_EQ(root.GetChild("appvar.RESULT"), &result);
  EXPECT_EQ(root.GetChild("AppVar.Missing"), nullptr);
  EXPECT_EQ(root.GetChild(""), &root);
  // A node stands for its own name in a path.
  CtVar& app = root["AppVar"];
  EXPECT_EQ(app.GetChild("AppVar.Result"), &result);
  EXPECT_EQ(root.Index("AppVar.Result", 0), &result);
  EXPECT_EQ(root.Index("Nothing.Result", 0), nullptr);
  EXPECT_NE(root.Index("Nothing.Result", 1), nullptr);
  EXPECT_EQ(result.GetParent("appvar"), &app);
  EXPECT_EQ(result.GenerationsTo("AppVar"), 1);
  EXPECT_EQ(result.GenerationsTo(nullptr), 2);
  EXPECT_EQ(result.GetTreeRoot(), &root);
}

TEST(TVarPath, IndirectIndexUsesTheNumberOfTheNamedVariable) {
  CtVar root;
  CtVar& app = root["AppVar"];
  app["Index"] = 3.0;
  CtVar& cam = root["AppVar.Camera[Index]"];
  EXPECT_EQ(cam.NameView(), "3");
  EXPECT_EQ(cam.GetParent()->NameView(), "Camera");
  EXPECT_EQ(root.GetChild("AppVar.Camera[Index]"), &cam);
  EXPECT_EQ(root.Index("AppVar.Camera[Index].Pos", 1)->GetParent(), &cam);

  app["Index"] = "text";
  CtVar& named = root["AppVar.Camera[Index]"];
  EXPECT_EQ(named.NameView(), "Index");
  // A digit in brackets is a plain index.
  EXPECT_EQ(root["AppVar.Camera[7]"].NameView(), "7");
}

TEST(TVarPath, GetAtPrefixesTheCameraBranch) {
  CtVar root;
  CtVar* a = root.GetAt("Pos", 2, 0, 1);
  EXPECT_EQ(a->GetVarFullName(1), "Camera 01.Pos");
  EXPECT_EQ(root.GetAt("Pos", 1, 0, 1)->GetVarFullName(1), "Pos");
  EXPECT_EQ(root.GetAt("Camera 02.Pos", 2, 0, 1)->GetVarFullName(1), "Camera 02.Pos");
}

TEST(TVarValue, TypesAndValueText) {
  struct Case {
    const char* name;
    double number;
    const char* format;
    uint32_t type;
    std::string text;
  };
  const Case cases[] = {
      {"Result", 2, "", OZK_TVAR_INT, "Recycled"},
      {"result", 4, "", OZK_TVAR_INT, ""},
      {"RESULT", 1, "%5.1f", OZK_TVAR_INT, "Passed"},
      {"v", 3.14159, "", OZK_TVAR_DOUBLE, "3.14"},
      {"v", 5.0, "", OZK_TVAR_INT, "5.00"},
      {"v", 5.5, "%5.1f", OZK_TVAR_DOUBLE, "  5.5"},
      {"v", 2.5, "%s%n", OZK_TVAR_DOUBLE, "2.50"},  // refused format falls back
      {"v", 1e300, "", OZK_TVAR_INT, ""},
      {"v", INFINITY, "", OZK_TVAR_DOUBLE, " inf"},
      {"v", NAN, "", OZK_TVAR_DOUBLE, " nan"},
  };
  for (const Case& c : cases) {
    CtVar node(c.name, nullptr, nullptr);
    node = c.number;
    ASSERT_EQ(node.SetFormat(c.format), 1);
    EXPECT_EQ(node.GetType(), c.type) << c.name << " " << c.number;
    if (!c.text.empty() || c.number == 4) {
      EXPECT_EQ(node.GetValueStr(), c.text) << c.number;
    }
  }
}

TEST(TVarValue, StoredIntegerUsesDecimalOrFormat) {
  CtVar root;
  CtVar& n = root["n"];
  n = 1.0;
  // A record may carry the stored integer type; it shows truncated.
  std::vector<uint8_t> rec = n.SerializeTree();
  rec[0] = OZK_TVAR_INT;
  const double v = 7.9;
  std::memcpy(&rec[4], &v, 8);
  ASSERT_EQ(n.UnSerializeTree(rec.data(), static_cast<uint32_t>(rec.size())), 1);
  EXPECT_EQ(n.GetStoredType(), static_cast<uint32_t>(OZK_TVAR_INT));
  EXPECT_EQ(n.GetValueStr(), "7");
  n.SetFormat("<%03d>");
  EXPECT_EQ(n.GetValueStr(), "<007>");
}

TEST(TVarValue, TextDataAndBranchValues) {
  CtVar root;
  CtVar& t = root["t"];
  t = "0123456789";
  uint32_t size = 0;
  t.GetData(&size);
  EXPECT_EQ(size, 12u);
  t = "abc";  // fits: the buffer is kept
  t.GetData(&size);
  EXPECT_EQ(size, 12u);
  EXPECT_STREQ(static_cast<const char*>(t), "abc");
  EXPECT_EQ(t.GetType(), static_cast<uint32_t>(OZK_TVAR_STRING));
  EXPECT_EQ(static_cast<double>(t), 0.0);
  t += "def";
  EXPECT_EQ(t.GetValueStr(), "abcdef");

  CtVar& d = root["d"];
  const uint8_t bytes[] = {1, 0, 2};
  d.SetData(bytes, 3);
  const uint8_t* got = d.GetData(&size);
  ASSERT_EQ(size, 3u);
  EXPECT_EQ(std::vector<uint8_t>(got, got + 3), std::vector<uint8_t>(bytes, bytes + 3));
  EXPECT_EQ(d.GetValueStr(), "");

  CtVar& b = root["b"];
  EXPECT_EQ(static_cast<const char*>(b), nullptr);
  EXPECT_EQ(b.GetValueStr(), "");
  EXPECT_EQ(static_cast<long>(root["neg"] = -2.7), -2);
}

TEST(TVarValue, MixedTextIsStoredAsUtf8) {
  CtVar root;
  // "ab", the mark, then UTF-16LE "é", "A" and a zero unit: the tail holds zero bytes.
  const std::string mixed(
      "ab\xFF\xFE\xE9\x00"
      "A\x00\x00\x00",
      10);
  root["m"] = mixed.c_str();
  EXPECT_EQ(root["m"].GetValueStr(),
            "ab\xC3\xA9"
            "A");
  EXPECT_EQ(static_cast<std::wstring>(root["m"]), L"ab\u00E9A");
  root["m"] += mixed.c_str();
  EXPECT_EQ(root["m"].GetValueStr(),
            "ab\xC3\xA9"
            "Aab\xFF\xFE\xE9");
  CtVar& named = *root.GetChild(mixed.c_str(), 0, 1, 0);
  EXPECT_EQ(named.NameView(),
            "ab\xC3\xA9"
            "A");
  EXPECT_EQ(named.GetVarName(), L"ab\u00E9A");

  // A name that begins with the mark finds the converted child instead of making a second one.
  const std::string wide_name(
      "\xFF\xFE"
      "Z\x00\xE9\x00\x00\x00",
      8);
  CtVar* first = root.GetChild(wide_name.c_str(), 0, 1, 0);
  EXPECT_EQ(first->NameView(), "Z\xC3\xA9");
  EXPECT_EQ(root.GetChild(wide_name.c_str(), 0, 1, 0), first);
  EXPECT_EQ(root.GetChild("z\xC3\xA9"), first);
}

TEST(TVarValue, FormatOfTenCharactersIsRefused) {
  CtVar node("v", nullptr, nullptr);
  ASSERT_EQ(node.SetFormat("%9.3f"), 1);
  EXPECT_EQ(node.SetFormat("%123456.3f"), 0);
  EXPECT_EQ(node.GetFormat(), "%9.3f");
  EXPECT_EQ(node.SetFormat("%12345.3f"), 1);  // nine characters fit
  EXPECT_EQ(node.FormatView(), "%12345.3f");
}

TEST(TVarValue, DeepCopyCopiesValuesAndSubtree) {
  CtVar src;
  src["a"] = 1.5;
  src["b.c"] = "text";
  src["b"].SetFormat("%3.1f");
  CtVar copy(src);
  EXPECT_EQ(static_cast<double>(copy["a"]), 1.5);
  EXPECT_EQ(copy["b.c"].GetValueStr(), "text");
  EXPECT_TRUE(copy.IsSameTreeStructureAs(&src));
  // Copying a node onto its own descendant terminates.
  src["b.c"] = src;
  EXPECT_EQ(src["b.c.a"].GetValueStr(), "1.50");
}

TEST(TVarState, ResultsStatesAndRecursiveOptions) {
  CtVar root;
  CtVar& v = root["v"];
  struct Case {
    VAR_RESULT_TYPE result;
    REJECTOR_RESULT state;
  };
  for (const Case& c :
       {Case{VAR_RESULT_PASSED, REJECTOR_PASSED}, Case{VAR_RESULT_RECYCLED, REJECTOR_RECYCLED},
        Case{VAR_RESULT_REJECTED, REJECTOR_REJECTED}, Case{VAR_RESULT_NONE, REJECTOR_NONE}}) {
    v.SetResult(c.result);
    EXPECT_EQ(v.GetState(), c.state);
    v.ClearResult();
    v.SetState(c.state);
    EXPECT_EQ(v.GetResult(), c.result);
  }
  v.SetOptions(TVAR_OPT_RESULT_VAR);
  v.SetResult(VAR_RESULT_REJECTED);
  EXPECT_EQ(v.GetOptions(), TVAR_OPT_RESULT_VAR | 0x30u);
  v.ClearState();
  EXPECT_EQ(v.GetOptions(), TVAR_OPT_RESULT_VAR);

  root["a.b.c"];
  root.SetOptions(TVAR_OPT_SYSTEM, 1);
  EXPECT_EQ(root["a.b.c"].GetOptions() & TVAR_OPT_SYSTEM, TVAR_OPT_SYSTEM);
  root["a"].ClearOptions(TVAR_OPT_SYSTEM, 1);
  EXPECT_EQ(root["a.b.c"].GetOptions() & TVAR_OPT_SYSTEM, 0u);
  EXPECT_EQ(root.GetOptions() & TVAR_OPT_SYSTEM, TVAR_OPT_SYSTEM);
  root["a"].SetOptions(0x8000, 0);
  EXPECT_EQ(root["a.b"].GetOptions() & 0x8000, 0u);
}

TEST(TVarRefs, DeletingThroughTheBaseDeletesTheSubtree) {
  CtVar root;
  const int64_t live = CtVar::LiveCount();
  COzkObject* branch = root.GetChild("a", 0, 1, 0);
  root["a.b.c"];
  EXPECT_EQ(CtVar::LiveCount(), live + 3);
  EXPECT_TRUE(branch->IsKindOf(OZK_RUNTIME_CLASS(CtVar)));
  EXPECT_TRUE(branch->IsKindOf(OZK_RUNTIME_CLASS(COzkObject)));
  delete branch;
  EXPECT_EQ(CtVar::LiveCount(), live);
  EXPECT_EQ(root.GetFirstChild(), nullptr);
  EXPECT_EQ(root.GetLastChild(), nullptr);
}

TEST(TVarRefs, ReleaseKeepsReferencedNodes) {
  const int64_t live = CtVar::LiveCount();
  {
    CtVar root;
    CtVar& a = Make(root, "a");
    a.AddRef();
    a.AddRef();
    EXPECT_EQ(a.AddRef(), 3u);
    EXPECT_EQ(a.Release(1), 2u);
    EXPECT_EQ(root.GetChild("a"), &a);

    CtVar& b = Make(root, "b");
    b["c"].AddRef();
    EXPECT_TRUE(b.AnyChildHasRef());
    EXPECT_EQ(b.Release(1), 0u);
    EXPECT_EQ(root.GetChild("b"), &b);  // kept: its child holds a reference
    b["c"].Release(1);                  // deletes c, the last reference
    EXPECT_EQ(b.GetChild("c"), nullptr);
    EXPECT_EQ(b.Release(1), 0u);
    EXPECT_EQ(root.GetChild("b"), nullptr);

    CtVar& kept = Make(root, "k");
    EXPECT_EQ(kept.Release(1, 0, 0), 0u);  // destroy 0
    EXPECT_EQ(root.GetChild("k"), &kept);
  }
  EXPECT_EQ(CtVar::LiveCount(), live);
}

TEST(TVarRefs, RemoveAllChildrenHonoursTheKeepList) {
  CtVar root;
  for (const char* n : {"A", "B", "C", "1", "2x", "D"}) root[n];
  root["D"].AddRef();
  root["D"].AddRef();
  root["B"].SetOptions(TVAR_OPT_SYSTEM);
  root.RemoveAllChildren("A\0C\0");
  EXPECT_THAT(ChildNames(root), ElementsAre("A", "C", "D"));
  EXPECT_EQ(root["D"].GetRefCount(), 1u);

  CtVar nums;
  for (const char* n : {"1", "x", "2y", "z"}) nums[n];
  nums.RemoveAllNumericChildren();
  EXPECT_THAT(ChildNames(nums), ElementsAre("x", "z"));
}

TEST(TVarStructure, SameTreeStructure) {
  CtVar unnamed;
  unnamed["x"];
  unnamed["y.z"];
  CtVar holder;
  CtVar& app = holder["AppVar"];
  app["X"];
  app["Y.Z"];
  EXPECT_TRUE(unnamed.IsSameTreeStructureAs(&app));
  EXPECT_TRUE(app.IsSameTreeStructureAs(&unnamed));
  EXPECT_FALSE(unnamed.IsSameTreeStructureAs(nullptr));
  app["Y"].MoveUp();
  EXPECT_FALSE(unnamed.IsSameTreeStructureAs(&app));
  app["Y"].MoveDown();
  app["Y.Q"];
  EXPECT_FALSE(unnamed.IsSameTreeStructureAs(&app));
  EXPECT_FALSE(holder.IsSameTreeStructureAs(&unnamed));  // one child against two
}

TEST(TVarStructure, MoveAndPlaceAtTheEnds) {
  CtVar root;
  for (const char* n : {"a", "b", "c"}) root.GetChild(n, 0, 1, 1);
  root["a"].MoveUp();
  root["c"].MoveDown();
  EXPECT_THAT(ChildNames(root), ElementsAre("a", "b", "c"));
  root["c"].MoveUp();
  EXPECT_THAT(ChildNames(root), ElementsAre("a", "c", "b"));
  root["a"].PlaceAfter(&root["b"]);
  EXPECT_THAT(ChildNames(root), ElementsAre("c", "b", "a"));
  EXPECT_EQ(root.GetLastChild()->NameView(), "a");
  root["a"].PlaceAfter(nullptr);
  EXPECT_THAT(ChildNames(root), ElementsAre("a", "c", "b"));
  EXPECT_EQ(root.GetLastChild()->NameView(), "b");
  EXPECT_EQ(root["b"].GetIndex(), 2);
  EXPECT_EQ(root.GetNextChild(&root["c"]), &root["b"]);
  EXPECT_EQ(root.GetNextChild(&root), nullptr);
  EXPECT_EQ(root["a"].Rename("z"), 1);
  EXPECT_EQ(root.Rename("x"), 0);  // unnamed
  EXPECT_THAT(ChildNames(root), ElementsAre("z", "c", "b"));
}

// Every structural operation keeps name lookup equal to a scan of the list in order, also with
// enough children that lookup goes through the name index, and with repeated names.
TEST(TVarStructure, NameLookupFollowsListOrderThroughReordering) {
  CtVar root;
  std::vector<std::string> pool;
  for (int i = 0; i < 40; ++i) {
    char name[8];
    std::snprintf(name, sizeof name, "%c%d", i % 3 ? 'n' : 'N', i);
    pool.emplace_back(name);
  }
  for (int i = 0; i < 50; ++i) root.GetChild(pool[i % 30].c_str(), 0, 1, 1);
  auto scan = [&](const std::string& name) -> CtVar* {
    for (CtVar* c = root.GetFirstChild(); c; c = c->GetNextSibling()) {
      if (port::EqualsNoCase(c->NameView(), name)) return c;
    }
    return nullptr;
  };
  std::mt19937 rng(12345);
  auto pick = [&]() {
    std::vector<CtVar*> all;
    for (CtVar* c = root.GetFirstChild(); c; c = c->GetNextSibling()) all.push_back(c);
    return all[rng() % all.size()];
  };
  for (int step = 0; step < 3000; ++step) {
    const std::string& name = pool[rng() % pool.size()];
    switch (rng() % 6) {
      case 0:
        pick()->MoveUp();
        break;
      case 1:
        pick()->MoveDown();
        break;
      case 2:
        pick()->PlaceAfter(rng() % 4 ? pick() : nullptr);
        break;
      case 3:
        pick()->Rename(name.c_str());
        break;
      case 4:
        root.GetChild(name.c_str(), 0, 1, 1);
        break;
      case 5:
        if (root.GetNumChildren() > 9) pick()->Release(1);
        break;
    }
    for (const std::string& n : pool) ASSERT_EQ(root.GetChild(n.c_str()), scan(n)) << step;
  }
}

// ---------------------------------------------------------------------------------------------
// Attachment to a destination manager

class FakeDests : public XTVarDests {
 public:
  struct Call {
    std::string op, dest;
    uint32_t index;
    std::string value;
  };
  int AttachVar(const char* dest, CtVar* var) override {
    calls.push_back({"attach", dest, 0, var->GetVarFullName(1)});
    return 1;
  }
  int DetachVar(const char* dest, CtVar* var, uint32_t flags) override {
    calls.push_back({"detach", dest, flags, var->GetVarFullName(1)});
    return 1;
  }
  double ReadRegister(const char* dest, uint32_t index, CtVar*) override {
    calls.push_back({"read", dest, index, ""});
    return 40.0 + index;
  }
  int WriteRegister(const char* dest, uint32_t index, double value, CtVar*) override {
    calls.push_back({"writenum", dest, index, std::to_string(static_cast<int>(value))});
    return 1;
  }
  int WriteRegister(const char* dest, uint32_t index, const char* text, int length,
                    CtVar*) override {
    calls.push_back({"writetext", dest, index, std::string(text, length - 1)});
    return 1;
  }
  int RecvMessage(const char* dest, std::span<uint8_t> buffer, uint32_t, int, uint32_t index,
                  CtVar*) override {
    const std::string text = "reg" + std::to_string(index);
    std::copy(text.begin(), text.end(), buffer.begin());
    return 1;
  }
  uint32_t GetRegisterType(CtVar*) override { return OZK_TVAR_INT; }

  std::vector<std::string> Ops() const {
    std::vector<std::string> out;
    for (const Call& c : calls) out.push_back(c.op + " " + c.dest + " " + std::to_string(c.index));
    return out;
  }
  std::vector<Call> calls;
};

TEST(TVarDest, AttachedNodeRoutesValuesThroughTheManager) {
  FakeDests dests;
  CtVar root;
  CtVar& v = root["AppVar.Out"];
  ASSERT_EQ(v.AttachToDestination("Plc", 100, 4), 1);
  EXPECT_EQ(v.GetValueStr(), "Plc:100:4");
  EXPECT_EQ(v.GetType(), static_cast<uint32_t>(OZK_TVAR_INT));
  std::string dest;
  uint32_t reg = 0, count = 0;
  ASSERT_TRUE(v.IsAttachedToDest(&dest, &reg, &count));
  EXPECT_EQ(dest, "Plc");
  EXPECT_EQ(reg, 100u);
  EXPECT_EQ(count, 4u);

  v = 7.0;
  v = "hello";
  EXPECT_EQ(static_cast<double>(v), 140.0);
  EXPECT_STREQ(static_cast<const char*>(v), "reg100");
  v.SetData(reinterpret_cast<const uint8_t*>("x"), 1);  // no effect on an attached node
  EXPECT_EQ(v.GetStoredType(), static_cast<uint32_t>(OZK_TVAR_DEST));
  EXPECT_THAT(dests.Ops(),
              ElementsAre("attach Plc 0", "writenum Plc 100", "writetext Plc 100", "read Plc 100"));
  EXPECT_EQ(dests.calls[2].value, "hello");

  // A new destination name detaches from the old one first.
  dests.calls.clear();
  v.AttachToDestination("Other", 5, 1);
  EXPECT_THAT(dests.Ops(), ElementsAre("detach Plc 0", "attach Other 0"));
}

TEST(TVarDest, ChildrenOfAnAttachedNodeFollowIt) {
  FakeDests dests;
  CtVar root;
  CtVar& arr = root["Arr"];
  arr.AttachToDestination("Plc", 100, 2);
  EXPECT_EQ(arr[3].GetValueStr(), "Plc:103:2");
  EXPECT_EQ(arr["name"].GetValueStr(), "Plc:100:2");
  EXPECT_EQ(arr["3x"].GetValueStr(), "Plc:100:2");

  // Without registration the reference is still kept.
  dests.calls.clear();
  CtVar& quiet = root["Quiet"];
  quiet.SetOptions(TVAR_OPT_NO_DEST_REGISTER);
  quiet.AttachToDestination("Plc", 1, 1);
  quiet.ReAttachVar(1);
  EXPECT_TRUE(dests.calls.empty());
  arr.ReAttachVar(1);
  EXPECT_EQ(dests.calls.size(), 4u);
}

TEST(TVarDest, ReleaseDetachesOutsideTheLock) {
  FakeDests dests;
  CtVar root;
  CtVar& v = root["v"];
  v.AttachToDestination("Plc", 9, 1);
  dests.calls.clear();
  EXPECT_EQ(v.Release(1, 0, 1, 77), 0u);
  EXPECT_EQ(root.GetChild("v"), nullptr);
  EXPECT_THAT(dests.Ops(), ElementsAre("detach Plc 77"));
}

TEST(TVarDest, ReferenceTextParsing) {
  struct Case {
    const char* text;
    std::string dest;
    uint32_t reg, count;
  };
  for (const Case& c : {Case{"Plc:12:3", "Plc", 12, 3}, Case{"Plc:12", "Plc", 12, 0},
                        Case{"Plc", "Plc", 0, 0}, Case{":x:", "", 0, 0}, Case{"", "", 0, 0}}) {
    std::string dest = "unset";
    uint32_t reg = 99, count = 99;
    CtVar::DestCmpts(c.text, &dest, &reg, &count);
    EXPECT_EQ(dest, c.dest) << c.text;
    EXPECT_EQ(reg, c.reg) << c.text;
    EXPECT_EQ(count, c.count) << c.text;
  }
}

TEST(TVarLock, ThreadsShareOneParent) {
  CtVar root;
  CtVar& shared = root["Shared"];
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&shared, t] {
      for (int i = 0; i < 300; ++i) {
        const std::string name = std::to_string(t * 1000 + i);
        shared[name.c_str()] = static_cast<double>(i);
        if (i % 3 == 0) shared.GetChild(name.c_str())->Release(1);
      }
    });
  }
  for (std::thread& th : threads) th.join();
  EXPECT_EQ(shared.GetNumChildren(), 4u * 200u);
  for (int t = 0; t < 4; ++t) {
    EXPECT_EQ(static_cast<double>(shared[std::to_string(t * 1000 + 299).c_str()]), 299.0);
  }
}

// A read without the lock counts only when nothing was changed under the lock meanwhile: each
// row changes the tree (or the lock) in its own way between the begin and the end.
TEST(TVarLock, ReadsWithoutTheLockSeeEveryChangeUnderIt) {
  CtVar root;
  CtVar& a = root["a"];
  a = 1.0;
  port::RecursiveMutex engine;
  const struct {
    const char* change;
    std::function<void()> run;
    bool counts;
    bool same_epoch;
  } rows[] = {
      {"nothing", [] {}, true, true},
      {"a value", [&] { a = 2.0; }, false, true},
      {"a text", [&] { a = "x"; }, false, false},
      {"another text", [&] { a = "y"; }, false, true},
      {"a number again", [&] { a = 3.0; }, false, false},
      {"a lock held twice",
       [] {
         CtVarLock outer;
         CtVarLock inner;
       },
       false, true},
      {"a node deleted", [&] { root["gone"].Release(); }, false, false},
      {"a node renamed", [&] { root["b"].Rename("c"); }, false, false},
      {"the lock switched", [&] { SetTreeLock(&engine); }, false, true},
  };
  for (const auto& row : rows) {
    CtVar::UnlockedRead read;
    ASSERT_TRUE(CtVar::BeginUnlockedRead(&read)) << row.change;
    std::thread(row.run).join();
    EXPECT_EQ(CtVar::EndUnlockedRead(read), row.counts) << row.change;
    EXPECT_EQ(CtVar::PlainNumberEpoch() == read.epoch, row.same_epoch) << row.change;
    SetTreeLock(nullptr);
  }
  CtVar::UnlockedRead read;
  CtVarLock held;
  {
    CtVarLock again;
    EXPECT_FALSE(CtVar::BeginUnlockedRead(&read)) << "begun inside a nested hold";
  }
  EXPECT_FALSE(CtVar::BeginUnlockedRead(&read)) << "begun after leaving the inner hold";
}

}  // namespace
