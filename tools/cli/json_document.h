// packtool's JSON documents (list, extract and rescue with --json): built
// with nlohmann-json, the fields in the order they are added, printed as
// UTF-8. Row texts go in through Windows1252ToUtf8, paths of this machine
// through JsonHostPath.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

using JsonDocument = nlohmann::ordered_json;

// A path of this machine for a document: on Windows the ANSI text converted
// from 1252; on POSIX the bytes as the shell gave them (UTF-8 where they are).
std::string JsonHostPath(const std::string& path);
// The document on standard output, indented by 2, ending with a newline.
// Bytes that are not UTF-8 (only a POSIX path can hold them) are written as
// U+FFFD instead of failing the document.
void PrintJsonDocument(const JsonDocument& document);

// After a command that asked for JSON ended with code before printing
// anything (a missing archive, a refused folder): a document of the failure,
// {"archive", "error", "exitCode"}, so that a script reads JSON whatever
// happened. Nothing when the command succeeded or printed its document.
void ReportFailureAsJson(const std::string& archive, int code);
