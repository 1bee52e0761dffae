// Warm lines that read an array element by a variable index ("Tbl[i]"): after every change of the
// tree a warm evaluation must give what a fresh parse of the same line gives.
#include "tests/cond/cond_fixture.h"

namespace {

class ElementTest : public CondTest {
 protected:
  void SetUp() override {
    for (int k = 0; k < 10; ++k) Var("Tbl")[k] = k * 10.0;
    Var("i") = 2.0;
    Var("a") = 1.0;
  }
};

TEST_F(ElementTest, IndexValueChangesAreFollowed) {
  const char* lines[] = {"Tbl[i] * 2", "-Tbl[i] + Tbl[3]", "Tbl[i] + Tbl[a] * a", "sqrt(Tbl[i])"};
  const struct {
    double i;
    const char* why;
  } steps[] = {
      {5, "a new index"},
      {5.9, "a fraction (truncated)"},
      {2, "the first index again"},
      {-1, "a negative index"},
      {1e12, "a huge index"},
      {20, "an element that does not exist yet"},
      {0, "index zero"},
  };
  for (const char* line : lines) {
    Var("i") = 2.0;
    Warm(line);
    for (const auto& s : steps) {
      Var("i") = s.i;
      ExpectWarmAsFresh(line, s.why);
      ExpectWarmAsFresh(line, std::string(s.why) + ", once more");
    }
  }
  // The element a large index named was created by the evaluation, as a path walk creates it.
  EXPECT_NE(Var("Tbl").Index("20", 0), nullptr);
}

TEST_F(ElementTest, ElementAndIndexNodesMayChangeUnderAWarmLine) {
  const std::string line = "Tbl[i] * 2 + 1";
  Warm(line);
  ExpectWarmAsFresh(line, "nothing");
  EXPECT_DOUBLE_EQ(Eval(line), 41);

  Var("Tbl")[2] = 7.0;
  ExpectWarmAsFresh(line, "a new element value");
  EXPECT_DOUBLE_EQ(Eval(line), 15);

  Var("Tbl").Index("2", 0)->Release();
  ExpectWarmAsFresh(line, "the element's deletion");  // the element is created again, 0
  EXPECT_DOUBLE_EQ(Eval(line), 1);
  Var("Tbl")[2] = 3.0;
  ExpectWarmAsFresh(line, "the element's re-creation");
  EXPECT_DOUBLE_EQ(Eval(line), 7);

  cond_.AppVar()->Index("i", 0)->Release();
  Var("i") = 4.0;
  ExpectWarmAsFresh(line, "the index variable's re-creation");
  EXPECT_DOUBLE_EQ(Eval(line), 81);

  Var("i") = "3";
  ExpectWarmAsFresh(line, "the index turning to text");
  Var("i") = 3.0;
  ExpectWarmAsFresh(line, "the index turning back to a number");
  EXPECT_DOUBLE_EQ(Eval(line), 61);

  const std::string joined = "Tbl[i] + 1";
  Warm(joined);
  Var("Tbl")[3] = "x";
  ExpectWarmAsFresh(line, "the element turning to text");
  EXPECT_DOUBLE_EQ(Eval(line), 1);  // a text counts as 0 in a product
  ExpectWarmAsFresh(joined, "the element turning to text");
  EXPECT_EQ(text_, "x1");
  Var("Tbl")[3] = 5.0;
  ExpectWarmAsFresh(line, "the element turning back to a number");
  EXPECT_DOUBLE_EQ(Eval(line), 11);

  Var("Tbl").Rename("Old");
  Var("Tbl")[3] = 100.0;
  ExpectWarmAsFresh(line, "the array's rename and a new array");
  EXPECT_DOUBLE_EQ(Eval(line), 201);
}

TEST_F(ElementTest, RemoteLinkedElementIsReadFromTheServer) {
  const std::string line = "Tbl[i] + 1";
  Warm(line);
  EXPECT_DOUBLE_EQ(Eval(line), 21);
  CountingRemote remote;
  CtVar& element = Var("Tbl")[2];
  element.SetRpc(&remote);
  EXPECT_DOUBLE_EQ(Eval(line), 2);
  EXPECT_DOUBLE_EQ(Eval(line), 3);
  EXPECT_EQ(remote.reads, 2);
  element.SetRpc(nullptr);
  Var("i").SetRpc(&remote);  // the index is read from the server as well
  EXPECT_DOUBLE_EQ(Eval(line), 31);
  EXPECT_EQ(remote.reads, 3);
  Var("i").SetRpc(nullptr);
}

}  // namespace
