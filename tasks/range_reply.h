// Reading a reply to a request that continues a partial file: where its body starts, and the
// validator to send back when the file is continued once more.
#pragma once

#include "base/unique_handle.h"  // HINTERNET

#include <cstdint>
#include <string>

// How the reply's head says its body relates to the file's first `offset` bytes.
enum class RangeReply {
    Append,       // a 206 whose Content-Range starts at `offset` and runs to the end of the body
    WholeBody,    // a 2xx reply with a body (other than such a 206): the body from its start
    FileIsWhole,  // a 416 whose Content-Range names `offset` as the whole length
    WrongRange,   // a 206 whose range does not continue the file
    Refused,      // any other status
};

// `offset` is 0 when no range was asked for. On Append *total is the body's whole length.
RangeReply ReadRangeReply(HINTERNET request, std::uint32_t status, std::uint64_t offset,
                          std::uint64_t* total);

// The reply's strong ETag, or else its Last-Modified date; empty when it has neither in a form
// that can be sent back in an If-Range header.
std::string ReadResumeValidator(HINTERNET request);
