//===- brackwell/brackwell.h - Every public header --------------*- C++ -*-===//
//
// Includes every public header of the library.
//
//   #include <brackwell/brackwell.h>
//   using namespace Brackwell;
//
//===----------------------------------------------------------------------===//
#ifndef BRACKWELL_BRACKWELL_H
#define BRACKWELL_BRACKWELL_H

#include "ConvertUTF.h"
#include "bqStatus.h"
#include "fileSpec.h"
#include "fileUtils.h"
#include "stringUtils.h"
#include "thread.h"
#include "utilMutex.h"
#include "utilSync.h"
#include "utilTokenizer.h"

#endif // BRACKWELL_BRACKWELL_H
