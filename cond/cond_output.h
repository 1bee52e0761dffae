// CCondOutput: parser and evaluator of the expression language.
//
// A line is tokenized in place into at most 60 terms (MakeCondTerms); variable references bind
// to nodes below "AppVar" (path walking creates missing ones) or, first, to the running user
// function's local node. EvalCondition evaluates a line through a per-thread term cache (six
// threads get a table of 256 records; others parse every time) and re-binds the cached
// variables on every evaluation, so a re-created variable or a computed index is always current.
// A warm line whose values give numbers runs as a compiled program instead, while no node has
// been deleted or renamed since it was bound and each of its nodes still holds the type it was
// compiled for; an element named by a plain variable index ("Tbl[i]") is looked up by the
// index's current value on every run. A program that reads numbers alone runs from the calling
// thread's own copy without taking the tree lock, and counts only if no thread took the lock
// meanwhile (see cond_warm.cc).
// Evaluation never fails: bad input yields 0 or is ignored; EquationSyntaxCheck reports the
// faults of a line as fixed messages for an editor.
//
// The statement loop, conditions and events build on this class; services outside the subsystem
// (device parameters, register transfers, user-function runs, the printer) are reached through
// cond/cond_seams.h.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "cond/cond_types.h"

class CtVar;
class CAppString;

// One recorded step of evaluating a cached line. Which terms combine depends only on the term
// codes, never on the values, so a line's steps can be replayed on freshly read values.
struct CondTapeStep {
  enum Kind : uint8_t { kOperator = 1, kCall = 2, kNegateGroup = 3 };
  Kind kind;
  int8_t left;   // operator: left operand; negated group: its value
  int8_t right;  // operator: right operand
  int8_t slot;   // call: where the value goes
  int8_t args[4];
  int8_t nargs;
  uint8_t negate;
  OZK_OP_TYPE code;
  CtVar* function;
};

// The warm form of a line's steps: a postfix program run on a small stack of values, without
// touching the term records. Numeric operators run in place; built-in functions of numbers are
// called through direct pointers (a function of one number ignores its second argument). Texts
// take part only where they give a number; steps with texts share the full evaluation's code.
using CondNumericFn = double (*)(double, double);
struct CondFastOp {
  enum Kind : uint8_t {
    kConstant,          // push constant
    kNode,              // push the number node holds
    kElement,           // push the number of node's child numbered by the number index holds
    kText,              // push the text node holds, or text when node is null
    kOperator,          // replace the two top values by the binary operator code applied to them
    kOperatorNode,      // apply the operator code to the top and the number node holds
    kOperatorConstant,  // apply the operator code to the top and constant
    kTextOperator,      // kOperator where a value is a text (the result is a number)
    kCall1,             // replace the top by fn(top, 0)
    kCall2,             // replace the two top values by fn(below, top)
    kTextCall,          // replace the nargs top values by the built-in function code of them
    kNegate,            // negate the top
  };
  Kind kind;
  uint8_t negate;  // kNode, kElement, kOperatorNode: the value read is negated
  uint8_t texts;   // kTextOperator, kTextCall: bit k set when operand k is a text
  int8_t nargs;
  OZK_OP_TYPE code;
  double constant;
  const char* text;
  CtVar* node;
  CtVar* index;
  CondNumericFn fn;
  // kElement: the index last read and the child it named, valid while the bindings are.
  int32_t last_index;
  CtVar* last_element;
};
constexpr int kCondFastOps = 64;
constexpr int kCondFastStack = 64;
struct CondFastProgram {
  uint8_t ready;        // 0: the line needs the full evaluation
  uint8_t settled;      // the last attempt failed: not tried again until the line is bound anew
                        // or its steps are recorded again (a text line would try on every run)
  uint8_t clears_text;  // int(...) makes an assignment store a number
  uint8_t locked_only;  // a thread found that it cannot run without the tree lock
  int8_t count;
  CondFastOp op[kCondFastOps];
};

// One record of the term cache. Text pointers of the stored terms point into working.
struct OZK_CACHED_COND_TERMS {
  uint32_t length;  // source length with terminator; 0 for an empty record
  char source[100];
  char parsed[100];
  char working[100];
  uint32_t count;
  OZK_COND_TERM terms[kCondMaxTerms];
  // Binding state: the tree's structure epoch and local node the variables were bound under, and
  // whether a term holds a node it cannot find again by name (a user function, a long name).
  uint64_t bound_epoch;
  CtVar* bound_local;
  uint32_t pinned_nodes;
  uint8_t rebind[kCondMaxTerms];  // the term's name holds a computed index
  // The evaluation steps (tape_steps < 0: not recorded) and the term that holds the value.
  int32_t tape_steps;
  int32_t tape_result;
  CondTapeStep tape[kCondMaxTerms];
  CondFastProgram fast;
};

constexpr int kCondCacheThreads = 6;
constexpr int kCondCacheSlots = 256;
// Lines of a solution's program a thread finds by address; a line that shares its slot with
// another evaluated meanwhile is found by its text instead.
constexpr int kCondRememberedLines = 128;

// One thread's table of the term cache, and the records its recent lines were found in by the
// line's address: summing a line's bytes costs more than running a warm numeric line. A
// remembered record counts only while it still holds the same text.
struct CondCacheTable {
  struct Line {
    const char* text;
    OZK_CACHED_COND_TERMS* record;
  };
  std::array<OZK_CACHED_COND_TERMS, kCondCacheSlots> records;
  std::array<Line, kCondRememberedLines> lines;
};
constexpr int kCondMaxCachedLine = 99;
constexpr int kShadowVarCapacity = 100;
constexpr size_t kPrintQueueLimit = 20000;  // queue size with terminator never reaches this
constexpr size_t kPrintFlushThreshold = 19900;

class CCondOutput {
 public:
  // root: the tree whose "AppVar" and "EquationTree" (created when missing) hold the variables
  // and user functions. strings formats templates for "string"; null: an own set over root.
  explicit CCondOutput(CtVar* root, CAppString* strings = nullptr);
  virtual ~CCondOutput();  // a pending print queue is printed

  CCondOutput(const CCondOutput&) = delete;
  CCondOutput& operator=(const CCondOutput&) = delete;

  CtVar* AppVar() const { return app_var_; }
  CtVar* EquationTree() const { return equation_tree_; }

  // ---- Parsing ----
  unsigned long MakeCondTerms(char* text, OZK_COND_TERM* terms, CtVar* root, CtVar* local,
                              int read);
  char* AddTerm(char* token, OZK_COND_TERM* terms, int index, CtVar* root, CtVar* local, int read);
  int AddFuncTerm(const char* name, OZK_COND_TERM* term);
  void AddVar(const char* name, OZK_COND_TERM* term, CtVar* root, CtVar* local, int read);
  void SetTerm(OZK_COND_TERM* term, CtVar& var, int read);
  void ReadEqVars(OZK_COND_TERM* terms, unsigned long count, CtVar* root, CtVar* local);
  // strtok with a position kept per object and per thread.
  char* strtok(char* text, const char* delimiters);

  // ---- Term cache ----
  // Count of the cached terms copied to terms, -1 when text is not cached. A null terms clears
  // the record instead.
  int GetCondTermsFromCache(const char* text, OZK_COND_TERM* terms);
  OZK_CACHED_COND_TERMS* AddCondTermCacheEntry(const char* text);
  OZK_CACHED_COND_TERMS* LookupCondCacheEntry(int slot);
  void ClearFunctionCache();

  // ---- Checking and splitting ----
  std::wstring EquationSyntaxCheck(const char* text);
  int SyntaxCheckTokenOrder(OZK_COND_TERM* terms, unsigned long count, std::wstring& messages);
  OZK_COND_TERM* SyntaxCheckCondTerms(OZK_COND_TERM* terms, unsigned long count, int consume,
                                      std::wstring& messages);
  static int EquationValidChars(const char* text, wchar_t* bad);
  static int LeftValueOK(const char* text, wchar_t* bad);
  // Splits "[if (condition)] [target =] expression"; 0 for an empty line or a target of 60
  // characters or more.
  static int GetEquationParts(const char* line, std::string* target, std::string* expression,
                              std::string* condition);
  void SetShadowVarEnable(int on);
  void PruneShadowVars();
  std::vector<std::string> ShadowVars() const;

  // ---- Evaluation ----
  double EvalCondition(const char* text, OZK_EQ_RESULT* result);
  double EvalEquation(const char* text, CtVar* target, CtVar* local, OZK_NEXT_OP_TYPE* next);
  OZK_COND_TERM* ProcessCondTerms(OZK_COND_TERM* terms, unsigned long count, int consume,
                                  OZK_EQ_RESULT* result);
  OZK_COND_TERM* PerformOp(OZK_COND_TERM* left, OZK_COND_TERM* op, unsigned long remaining,
                           OZK_EQ_RESULT* result);

  OZK_COND_TERM* InvokeZnaryFunc(OZK_COND_TERM* term, OZK_OP_TYPE code, OZK_EQ_RESULT* result,
                                 CtVar* function);
  OZK_COND_TERM* InvokeUnaryFunc(OZK_COND_TERM* term, OZK_OP_TYPE code, const OZK_COND_TERM& a,
                                 OZK_EQ_RESULT* result, CtVar* function);
  OZK_COND_TERM* InvokeBinaryFunc(OZK_COND_TERM* term, OZK_OP_TYPE code, const OZK_COND_TERM& a,
                                  const OZK_COND_TERM& b, OZK_EQ_RESULT* result, CtVar* function);
  OZK_COND_TERM* InvokeTrinaryFunc(OZK_COND_TERM* term, OZK_OP_TYPE code, const OZK_COND_TERM& a,
                                   const OZK_COND_TERM& b, const OZK_COND_TERM& c,
                                   OZK_EQ_RESULT* result);
  OZK_COND_TERM* InvokeQuadnaryFunc(OZK_COND_TERM* term, OZK_OP_TYPE code,
                                    std::span<const OZK_COND_TERM, 4> args, OZK_EQ_RESULT* result);

  double VarSort(CtVar& array, int ascending, CtVar* companions);
  double VarCopy(const OZK_COND_TERM* source, const OZK_COND_TERM* destination, int count);
  void AddPrintQueueStr(const char* text);
  // Decodes the queue's escapes, prints it and discards it.
  void FlushPrintQueue();
  size_t PrintQueueSize() const { return print_queue_.size(); }
  // Runs a user function through the installed statement loop; 1 when it ran.
  int InvokeFunction(const char* name, CtVar* parameters, unsigned long timeout_ms);

 private:
  // EvalCondition under the tree lock.
  double EvalLocked(const char* text, OZK_EQ_RESULT* result);
  // EvalCondition past the numeric program, under the tree lock: rec is the line's cache record
  // (null when not cached), epoch the structure epoch it was looked up under.
  double EvalTerms(const char* text, size_t len, OZK_CACHED_COND_TERMS* rec, uint64_t epoch,
                   OZK_EQ_RESULT* result);
  int EvalRange(OZK_COND_TERM* terms, int count, OZK_EQ_RESULT* result, int* close,
                OZK_OP_TYPE* close_type);
  int EvalCall(OZK_COND_TERM* terms, int at, int count, OZK_EQ_RESULT* result);
  int EvalGroup(OZK_COND_TERM* terms, int at, int count, OZK_EQ_RESULT* result);
  void CallFunction(OZK_COND_TERM* out, OZK_OP_TYPE code, std::span<const OZK_COND_TERM> args,
                    OZK_EQ_RESULT* result, CtVar* function);
  bool MathFunction(OZK_COND_TERM* out, OZK_OP_TYPE code, std::span<const OZK_COND_TERM> args,
                    OZK_EQ_RESULT* result);
  bool TextFunction(OZK_COND_TERM* out, OZK_OP_TYPE code, std::span<const OZK_COND_TERM> args,
                    OZK_EQ_RESULT* result);
  bool FlowFunction(OZK_COND_TERM* out, OZK_OP_TYPE code, std::span<const OZK_COND_TERM> args,
                    OZK_EQ_RESULT* result, CtVar* function);
  bool VarFunction(OZK_COND_TERM* out, OZK_OP_TYPE code, std::span<const OZK_COND_TERM> args);

  char* ReadLiteral(char* start);
  char* ReadBracketedName(char* start, std::string* name);
  std::string ResolveIndexes(const char* name);
  void NoteShadowVar(const std::string& name, CtVar* root);
  // The calling thread's table, given to it on first use; null for a seventh thread.
  CondCacheTable* ThreadCacheTable();
  // The record of table (may be null) that holds text, or null; *len gets text's length.
  OZK_CACHED_COND_TERMS* FindCachedLine(CondCacheTable* table, const char* text, size_t* len);
  char*& TokenPosition();
  // SetTerm for callers that hold the tree lock.
  void BindLocked(OZK_COND_TERM* term, CtVar& var, int read);
  void RepointTextsAfterCall(uint64_t epoch_before);
  double ReplayTape(OZK_COND_TERM* terms, const CondTapeStep* steps, int count, int value,
                    OZK_EQ_RESULT* result);
  // Runs a warm line's program into *value; false when a node's type changed since it was made
  // or an index names a child that does not exist yet.
  bool RunFastProgram(CondFastProgram& p, OZK_EQ_RESULT* result, double* value);
  // The warm line text run without the tree lock, from the thread's copy of its program; false
  // when there is no valid copy or the tree changed meanwhile (then take the lock).
  bool RunUnlocked(const char* text, OZK_EQ_RESULT* result, double* value);
  // Under the tree lock, after rec's program ran for text: the thread's copy of it, when it reads
  // numbers alone.
  void RememberUnlocked(const char* text, OZK_CACHED_COND_TERMS& rec);
  void RestoreTokenPosition(char* saved);

  CtVar* root_;
  CtVar* app_var_;
  CtVar* equation_tree_;
  CAppString* strings_;
  std::unique_ptr<CAppString> own_strings_;
  const uint64_t serial_;

  // The cache tables and their thread assignment are guarded by the tree lock.
  std::array<std::thread::id, kCondCacheThreads> cache_threads_{};
  std::array<std::unique_ptr<CondCacheTable>, kCondCacheThreads> cache_tables_;
  // Renewed (under the tree lock) when records are cleared: threads drop their copies of
  // programs. Unique across objects, so that it names the object as well.
  std::atomic<uint64_t> cache_generation_;

  std::atomic<bool> shadow_enabled_{false};
  mutable std::mutex shadow_mutex_;
  std::vector<std::pair<uint32_t, std::string>> shadow_vars_;

  std::string print_queue_;
  bool print_queue_exists_ = false;
};

// fullName without a trailing ".Result"; for "Camera N.x" names out is "x" and the result is the
// zero-based camera number N - 1, else 0.
int GetVarSimpleName(const char* full_name, std::string* out);
