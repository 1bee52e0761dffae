// The default printer: raw documents go to the system's print command or to a spool folder.
//
// When VEL_PRINT_COMMAND is set, it is run through the shell with the document on its standard
// input (for instance "lp -d office -o raw"). Otherwise the document is written as a new file
// "print-<seconds>-<sequence>.prn" in VEL_PRINT_SPOOL, or, when that is unset, in
// "velappclient/spool" under the per-user data folder (port::UserDataDir()).
// The folder is created when missing.
#pragma once

#include <string>

#include "cond/cond_seams.h"

class CCondPrinter : public XCondPrinter {
 public:
  int PrintDocument(std::string_view document) override;

  // The folder documents are spooled to under the current environment.
  static std::string SpoolFolder();
};
