// Flow-control requests, user-function calls and the periodic delay.
#include <chrono>
#include <thread>

#include "cond/cond_internal.h"
#include "cond/cond_output.h"
#include "cond/cond_seams.h"
#include "cond/op_table.h"
#include "vartree/tvar.h"

namespace {

constexpr uint32_t kUserFunctionBudgetMs = 1000;

void StoreArgument(CtVar& node, const OZK_COND_TERM& arg) {
  if (arg.type == OP_TEXT) {
    node = std::string_view(cond::TermText(arg));  // one zero byte ends a term's text
  } else {
    node = arg.value;
  }
}

}  // namespace

bool CCondOutput::FlowFunction(OZK_COND_TERM* out, OZK_OP_TYPE code,
                               std::span<const OZK_COND_TERM> args, OZK_EQ_RESULT* result,
                               CtVar* function) {
  const double x = args.empty() ? 0 : args[0].value;
  cond::SetNumber(out, x);
  switch (code) {
    case FN_RETURN:
      if (!args.empty() && args[0].type == OP_TEXT && result) {
        cond::StoreProducedText(result, out, cond::TermText(args[0]));
      }
      if (result && result->local && !args.empty()) {
        StoreArgument((*result->local)["return"], args[0]);
      }
      if (result) result->next = NEXT_OP_RETURN;
      return true;
    case FN_WHILE:
      if (result) result->next = x != 0 ? NEXT_OP_ENTER_LOOP : NEXT_OP_SKIP_LOOP;
      return true;
    case FN_ENDWHILE:
      if (result) result->next = NEXT_OP_LOOP_BACK;
      return true;
    case FN_IF:
      if (result) result->next = x != 0 ? NEXT_OP_CONTINUE : NEXT_OP_SKIP_IF;
      return true;
    case FN_ELSE:
      if (result) result->next = NEXT_OP_SKIP_ELSE;
      return true;
    case FN_ENDIF:
      if (result) result->next = NEXT_OP_CONTINUE;
      return true;
    case FN_DELAY: {
      out->value = 0;
      const int64_t ms = cond::ToInt64(x);
      if (ms > 0 && ms <= UINT32_MAX &&
          XCondFunctionRunner::Get().ExtendPeriodicBudget(static_cast<uint32_t>(ms))) {
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
      }
      return true;
    }
    case FN_CALL:
    case FN_CALL1:
    case FN_CALL2: {
      out->value = 0;
      if (!function) return true;
      CtVar parameters;
      if (code != FN_CALL && !args.empty()) StoreArgument(parameters["p1"], args[0]);
      if (code == FN_CALL2 && args.size() > 1) StoreArgument(parameters["p2"], args[1]);
      const std::string name(function->NameView());
      const uint64_t epoch = CtVar::StructureEpoch();
      InvokeFunction(name.c_str(), &parameters, kUserFunctionBudgetMs);
      RepointTextsAfterCall(epoch);
      CtVar* ret = parameters.Index("return", 0);
      if (!ret) return true;
      if (ret->GetType() == OZK_TVAR_STRING) {
        if (result) cond::StoreProducedText(result, out, cond::NodeText(*ret));
      } else {
        out->value = static_cast<double>(*ret);
      }
      return true;
    }
    default:
      return false;
  }
}
