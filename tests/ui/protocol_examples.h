// The page's protocol examples (page/tests/protocol-examples.json, shared with the
// page's own tests), as protocol_examples_to_tsv.py flattens them at build time: one
// tab-separated line per example.
#pragma once

#include <istream>
#include <sstream>
#include <string>
#include <vector>

struct ProtocolExample {
    std::string side, text, kind, index, bits, handler_text, why;
    bool ignored;
};

// Columns: side, text, kind, index, bits, handler text, ignored ("1"), why.
inline std::vector<ProtocolExample> read_protocol_examples(std::istream& in) {
    std::vector<ProtocolExample> examples;
    for (std::string line; std::getline(in, line);) {
        std::vector<std::string> f;
        std::istringstream fields(line);
        for (std::string field; std::getline(fields, field, '\t');) f.push_back(field);
        f.resize(8);
        examples.push_back({f[0], f[1], f[2], f[3], f[4], f[5], f[7], f[6] == "1"});
    }
    return examples;
}
