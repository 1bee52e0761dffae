// CLumVariant: one typed value of a message.
//
// A variant holds either one scalar (integer, unsigned, 64-bit integer, float, double, bool) or an
// ordered list of elements of one kind: 8-bit texts, wide texts, data blocks, images or coordinate
// pairs, addressed by element index from 0. A variant made from LUM_VT_EMPTY takes the kind of
// the first element stored into it; storing an element of another kind into a list is refused.
// Setting an element beyond the end grows the list with empty elements. Getters on a missing
// element return 0, an empty text or null; a text getter's pointer stays valid until that element
// is changed or the variant destroyed.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "netmsg/lum_bytes.h"

enum LUM_VARIANT_TYPE : uint8_t {
  LUM_VT_EMPTY = 0,
  LUM_VT_INT = 1,     // signed 32-bit (int, long of the original 32-bit ABI)
  LUM_VT_UINT = 2,    // unsigned 32-bit
  LUM_VT_STRING = 3,  // list of 8-bit texts
  LUM_VT_FLOAT = 4,
  LUM_VT_WSTRING = 5,  // list of wide texts
  LUM_VT_DOUBLE = 6,
  LUM_VT_INT64 = 7,
  LUM_VT_DATA = 8,    // list of data blocks
  LUM_VT_IMAGE = 9,   // list of images
  LUM_VT_COORD = 10,  // list of (x, y) pairs
  LUM_VT_LAST = LUM_VT_COORD,
};

class CLumVariant {
 public:
  // One element of a list variant. Texts and data keep their bytes in `bytes` (a text without
  // its terminator); images add their geometry; coordinates use x and y.
  struct Element {
    LumBytes bytes;
    std::wstring wide;
    uint32_t width = 0, height = 0, bits_pp = 0, img_type = 0;
    double x = 0, y = 0;
    bool operator==(const Element&) const = default;
  };

  CLumVariant() = default;
  explicit CLumVariant(LUM_VARIANT_TYPE type);
  // long is 64 bits here, so it travels as a 64-bit integer; unsigned long as unsigned 32-bit
  // when it fits.
  CLumVariant(int v);
  CLumVariant(unsigned int v);
  CLumVariant(long v);
  CLumVariant(unsigned long v);
  CLumVariant(long long v);
  CLumVariant(float v);
  CLumVariant(double v);
  CLumVariant(const char* text);
  CLumVariant(const wchar_t* text);
  // A one-element data list. The bytes are always copied; the flag is accepted for the callers
  // of the original interface, where it chose between copying and borrowing.
  CLumVariant(const void* data, long size, bool copy);
  CLumVariant(const CLumVariant&) = default;
  CLumVariant& operator=(const CLumVariant&) = default;
  CLumVariant(CLumVariant&&) = default;
  CLumVariant& operator=(CLumVariant&&) = default;

  // Scalars convert numerically; a text list converts by parsing its first element.
  explicit operator int() const { return static_cast<int>(GetLongLong(0)); }
  explicit operator long() const { return static_cast<long>(GetLongLong(0)); }
  explicit operator unsigned long() const { return static_cast<unsigned long>(GetLongLong(0)); }
  explicit operator float() const { return static_cast<float>(GetDouble(0)); }
  explicit operator double() const { return GetDouble(0); }
  explicit operator long long() const { return GetLongLong(0); }
  explicit operator bool() const { return GetBool(0); }
  // The first text of a text list; "" for any other kind.
  explicit operator const char*() const { return GetString(0); }

  LUM_VARIANT_TYPE GetType() const { return type_; }
  // Elements in a list; 1 for a scalar, 0 for an empty variant.
  int GetSize() const;

  int SetString(const char* text, int index);
  // A text element of exactly these bytes (zeros included), for texts that carry binary values.
  int SetStringBytes(std::string_view bytes, int index);
  int AddString(const char* text);
  const char* GetString(int index) const;
  // The bytes of a text, data or image element, whatever they hold; empty when missing.
  std::string_view GetBytes(int index) const;
  int SetWString(const wchar_t* text, int index);
  int AddWString(const wchar_t* text);
  const wchar_t* GetWString(int index) const;
  int SetData(const void* data, long size, bool copy, int index);
  int AddData(const void* data, long size, bool copy);
  const void* GetData(int index) const;
  long GetDataSize(int index) const;
  int AddImage(const void* pixels, long size, uint32_t width, uint32_t height, uint32_t bits_pp,
               uint32_t img_type);
  int AddCoord(double x, double y);
  int GetCoord(double* x, double* y, int index) const;

  double GetDouble(int index) const;
  long GetLong(int index) const { return static_cast<long>(GetLongLong(index)); }
  int64_t GetLongLong(int index) const;
  bool GetBool(int index) const { return GetDouble(index) != 0; }

  uint32_t GetImgWidth(int index) const;
  uint32_t GetImgHeight(int index) const;
  uint32_t GetImgBitsPP(int index) const;
  uint32_t GetImgType(int index) const;
  const void* GetImgBuff(int index) const;
  long GetImgBuffSize(int index) const;

  bool operator==(const CLumVariant&) const = default;

  // ---- For the wire encoding ----
  bool IsList() const { return IsListType(type_); }
  static bool IsListType(LUM_VARIANT_TYPE type);
  const std::vector<Element>& Elements() const { return elements_; }
  int64_t IntegerBits() const { return integer_; }
  double DoubleValue() const { return real_; }
  // Builders used by the decoder: a scalar from its stored form, a list from its elements.
  static CLumVariant FromScalar(LUM_VARIANT_TYPE type, int64_t integer, double real);
  static CLumVariant FromList(LUM_VARIANT_TYPE type, std::vector<Element> elements);

 private:
  void SetInteger(LUM_VARIANT_TYPE type, int64_t v);
  void SetReal(LUM_VARIANT_TYPE type, double v);
  // The element at index for a list of kind `kind`, adopting the kind when empty; null when the
  // variant is of another kind or the index is negative.
  Element* Slot(LUM_VARIANT_TYPE kind, int index);
  const Element* Find(LUM_VARIANT_TYPE kind, int index) const;

  LUM_VARIANT_TYPE type_ = LUM_VT_EMPTY;
  int64_t integer_ = 0;  // integer scalars
  double real_ = 0;      // float and double scalars
  std::vector<Element> elements_;
};
