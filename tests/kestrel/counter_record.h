// Counter records for the concurrency tests: an 8-digit tag holding the count, a body
// long enough to be written in several pieces, and the tag again at the end, so that
// a record read while it was half written (or emptied) is recognised.
#pragma once

#include <cstdio>
#include <string>

inline std::string tag_of(unsigned n) {
    char tag[16];
    snprintf(tag, sizeof tag, "%08u", n);
    return tag;
}

inline std::string counter_record(unsigned n, size_t body) {
    return tag_of(n) + " " + std::string(body, char('a' + n % 26)) + " " + tag_of(n);
}

// The count of a complete record, or -1 for an empty, partial or mangled one.
inline long counter_of(const std::string& record, size_t body) {
    if (record.size() != 8 + 1 + body + 1 + 8) return -1;
    for (int i = 0; i < 8; ++i)
        if (record[i] < '0' || record[i] > '9') return -1;
    unsigned n = unsigned(std::stoul(record.substr(0, 8)));
    return record == counter_record(n, body) ? long(n) : -1;
}

// The count in a reply "PREFIX RECORD", or -1 when it is another reply or the record
// is empty or partial.
inline long counter_in(const std::string& reply, const std::string& prefix, size_t body) {
    return reply.rfind(prefix, 0) == 0 ? counter_of(reply.substr(prefix.size()), body) : -1;
}
