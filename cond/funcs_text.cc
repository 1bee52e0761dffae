// Functions of texts, and printing.
#include <cstring>
#include <string>

#include "cond/app_string.h"
#include "cond/cond_internal.h"
#include "cond/cond_output.h"
#include "cond/escape.h"
#include "cond/op_table.h"
#include "platform/text.h"
#include "vartree/tvar.h"

namespace {

// An index argument taken as an unsigned integer (negative values become huge).
uint64_t AsUnsigned(double v) {
  return static_cast<uint64_t>(cond::ToInt64(v));
}

}  // namespace

bool CCondOutput::TextFunction(OZK_COND_TERM* out, OZK_OP_TYPE code,
                               std::span<const OZK_COND_TERM> args, OZK_EQ_RESULT* result) {
  const auto is_text = [&](size_t i) { return args.size() > i && args[i].type == OP_TEXT; };
  const auto text = [&](size_t i) -> std::string_view { return cond::TermText(args[i]); };
  const auto number = [&](size_t i) { return args.size() > i ? args[i].value : 0.0; };
  cond::SetNumber(out, 0);
  switch (code) {
    case FN_STRLEN:
      if (is_text(0)) out->value = static_cast<double>(text(0).size());
      return true;
    case FN_CHAR: {
      out->value = number(0);
      if (!result) return true;
      const char c = static_cast<char>(cond::ToInt64(number(0)));
      cond::StoreProducedText(result, out, std::string_view(&c, c ? 1 : 0));
      out->value = number(0);
      return true;
    }
    case FN_STRING: {
      if (!result) return true;
      if (is_text(0) && !args[0].variable && text(0).substr(0, 1) == "[" && strings_) {
        std::wstring formatted;
        strings_->ProcessStr(port::Utf8ToWide(text(0)), formatted);
        cond::StoreProducedText(result, out, DecodeEscapes(port::WideToUtf8(formatted)));
      } else {
        cond::StoreProducedText(result, out, std::to_string(cond::ToInt64(number(0))));
      }
      out->value = 0;
      return true;
    }
    case FN_FIND: {
      out->value = -1;
      if (!is_text(0) || !is_text(1)) return true;
      const size_t at = text(1).find(text(0));
      if (at != std::string_view::npos) out->value = static_cast<double>(at);
      return true;
    }
    case FN_GETCHAR:
      if (is_text(0) && AsUnsigned(number(1)) < text(0).size()) {
        out->value = static_cast<signed char>(text(0)[AsUnsigned(number(1))]);
      }
      return true;
    case FN_SUBSTRING: {
      if (!result || !is_text(0)) return true;
      const std::string_view s = text(0);
      const uint64_t start = AsUnsigned(number(1));
      if (start >= s.size()) return true;
      const uint64_t n = std::min<uint64_t>(AsUnsigned(number(2)), s.size() - start);
      cond::StoreProducedText(result, out, s.substr(start, n));
      return true;
    }
    case FN_SETCHAR: {
      if (!is_text(0) || AsUnsigned(number(1)) >= text(0).size()) return true;
      std::string changed(text(0));
      changed[AsUnsigned(number(1))] = static_cast<char>(cond::ToInt64(number(2)));
      if (args[0].variable) *args[0].variable = changed.c_str();
      if (result) {
        const size_t n = std::min(std::strlen(changed.c_str()), size_t{kEqTextSize - 1});
        std::memcpy(result->text, changed.data(), n);
        result->text[n] = '\0';
      }
      return true;
    }
    case FN_PRINT:
      if (is_text(0)) AddPrintQueueStr(cond::TermText(args[0]));
      if (print_queue_exists_ && (number(1) != 0 || print_queue_.size() > kPrintFlushThreshold)) {
        FlushPrintQueue();
      }
      return true;
    default:
      return false;
  }
}
