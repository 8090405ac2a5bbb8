// Reading a reply to a request that continues a partial file: where its body starts, and the
// validator to send back when the file is continued once more.
#pragma once

#include "base/unique_handle.h"  // HINTERNET

#include <cstdint>
#include <string>

// What a request for the rest of a file asked for: the bytes from `offset` of the body that
// `validator` names, whose whole length was `total` when the file was begun.
struct RangeRequest {
    std::uint64_t offset = 0;  // 0: no range was asked for
    std::string validator;
    std::uint64_t total = 0;
};

// How the reply's head says its body relates to the file's first `offset` bytes.
enum class RangeReply {
    Append,       // a 206 of the same body (validator and total) from `offset` to its end
    WholeBody,    // a 2xx reply with a body (other than a 206 to a range): the body from its start
    StartOver,    // a reply that may be of another body: ask again for the whole body
    FileIsWhole,  // a 416 naming `offset` as the whole length, which is the total first seen
    WrongRange,   // a 206 whose range does not continue the file
    Refused,      // any other status
};

// On Append *total is the body's whole length.
RangeReply ReadRangeReply(HINTERNET request, std::uint32_t status, const RangeRequest& asked,
                          std::uint64_t* total);

// The reply's strong ETag, or else its Last-Modified date; empty when it has neither in a form
// that can be sent back in an If-Range header.
std::string ReadResumeValidator(HINTERNET request);
