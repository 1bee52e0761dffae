// CAppString: named text templates ("application strings") kept below "AppStrings".
//
// A template is text with references in square brackets: [65] is the character of that code,
// [P.Name%fmt] a device parameter, [Var.Path%fmt] a variable below "AppVar" (created when
// missing). The optional printf-style format starts at the first "%" inside the brackets.
// Numbers default to "%f" ("%d" for integral values); texts and data are inserted as stored.
// A reference without its "]" and everything after it are copied unchanged.
#pragma once

#include <string>

class CtVar;
class CVelServerEngine;
class CVelAppClient;

class CAppString {
 public:
  // Takes (creating when missing) "AppVar" and "AppStrings" below root.
  CAppString(CtVar* root, CVelServerEngine* engine, CVelAppClient* client);
  virtual ~CAppString();

  CAppString(const CAppString&) = delete;
  CAppString& operator=(const CAppString&) = delete;

  // The string's node (its child "Content" set to content), null without the tree lock.
  CtVar* AddString(const char* name, const char* content, int add_ref);
  int GetString(const char* name, std::string* content);
  int GetString(CtVar* node, std::string* name, std::string* content);
  int SetString(const char* name, const char* content);
  int SetString(CtVar* node, const char* content);
  // The string after node in child order (the first for null).
  CtVar* GetNextString(CtVar* node, int add_ref);
  int GetNumStrings();
  void DeleteString(CtVar* node, unsigned long n);
  int ResetSolution();

  int ProcessStr(const std::wstring& tmpl, std::wstring& output);
  double GetParamVal(const char* name);
  // Turns the brackets of every reference to name into "?" (all strings when node is null).
  void NullVarRefInString(const char* name, CtVar* node);

 private:
  CtVar* FindString(const char* name);
  std::wstring FormatReference(const std::wstring& name, const std::wstring& format,
                               const std::wstring& whole);

  CtVar* root_;
  CtVar* app_var_;
  CtVar* app_strings_;
  CVelServerEngine* engine_;
  CVelAppClient* client_;
};

// text as UTF-8 in buffer. size 0: the buffer holds twice the text length plus 8 bytes. Null when
// a non-zero size is below the text length plus one, or the converted text does not fit.
char* CStringToAscii(const std::wstring& text, char* buffer, int size);
