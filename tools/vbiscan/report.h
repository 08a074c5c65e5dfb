// The scanner's two reports: text for people, JSON for programs.  Pure:
// they turn a finished scan into strings; main does the reading and
// writing.
#pragma once
#include <string>

#include "scan_core.h"

std::string text_report(const Scan &s, const std::string &source);
std::string json_report(const Scan &s, const std::string &source);
