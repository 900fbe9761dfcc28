// The host's little command language, one command per line ("#" starts a
// comment):
//
//   call NAME [ARG [ARG]]          call a hall command; ARG is "text", 123,
//                                  true/false, {key=ARG ...} (a script object)
//                                  or - (omitted)
//   expect VALUE                   the last call's result, as plain text
//   expect-hr HRESULT              the last call's HRESULT (0x... or decimal)
//   wait EVENT [KEY=VALUE ...] [timeout=MS]
//                                  wait for an event after the last one waited
//                                  for; KEY is p1, p2 or a property of an
//                                  object parameter
//   sleep MS                       pump messages for a while
//   echo TEXT                      print a line
//
// Every event and every call is printed as one line to the output stream.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "hall_host.h"

namespace zv {

enum class ScriptResult { kOk = 0, kLoadFailed = 1, kBadScript = 2, kTimedOut = 3, kMismatch = 4 };

class HostScript {
 public:
  HostScript(HallHost& host, FILE* out);
  // Runs the lines in order and stops at the first failure.
  ScriptResult Run(const std::vector<std::wstring>& lines);
  // Prints a line with the time since the script started.
  void Print(const std::wstring& text);

 private:
  ScriptResult RunLine(const std::wstring& line);
  ScriptResult RunCall(const std::vector<std::wstring>& words);
  ScriptResult RunWait(const std::vector<std::wstring>& words);
  ScriptResult RunExpect(const std::vector<std::wstring>& words, bool hresult);

  HallHost& host_;
  FILE* out_;
  ULONGLONG start_;
  HRESULT lastHr_ = S_OK;
  std::wstring lastResult_;
};

// Splits a line into words; quoted text and {...} objects stay one word.
bool SplitWords(const std::wstring& line, std::vector<std::wstring>* words);

}  // namespace zv
