// vnlt query: numbers answered in lists, as TSV, CSV or JSON lines.
#pragma once

#include <string>
#include <vector>

enum class ListFormat { kTsv, kCsv, kJsonl };

struct QueryRequest {
    std::vector<std::string> numbers;  // from the command line; when empty, the input is read
    std::string inputFile;             // UTF-8 path; empty for standard input
    int column = 0;                    // 1-based column of the number in CSV or TSV rows; 0: one number a line
    ListFormat format = ListFormat::kTsv;
    bool formatGiven = false;  // rows come back in their own dialect unless a format is asked for
};

class Answerer;

// Answers every number of the request and writes the answers to standard
// output. 0 when every number was found, 1 when one was not, 2 when the
// input could not be read (`*error` says why).
int AnswerQuery(const QueryRequest& request, const Answerer& answerer, std::string* error);
