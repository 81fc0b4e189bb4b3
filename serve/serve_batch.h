// vnlt serve: a batch (POST /v1/lookup) from its body to its reply. The body
// is checked whole once, and the check notes where each piece of the reply
// starts, so that the batch threads make pieces side by side, each reading
// only its own numbers, while the connection sends them in order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "serve/serve_limits.h"

struct Snapshot;

// A batch's reply is made and sent a piece of this many answers at a time,
// some 180 KB, at most 1 MB when every byte of every number is escaped.
constexpr size_t kPieceNumbers = 1024;
constexpr size_t kPiecesAhead = 4;  // made or being made, beyond the one sent
// Beside its body, a batch holds its pieces and the parser's state.
constexpr uint64_t kBatchOverhead = 6 * 1024 * 1024;

enum class BatchFormat { kJson, kLines };
enum class BatchError { kNone, kMalformed, kNotStrings, kTooMany, kTooLong };

struct BatchCheck {
    BatchError error = BatchError::kNone;
    size_t at = 0;     // the 1-based position of the number or the byte the error is about
    size_t count = 0;  // the numbers in a good batch
    // Of a good batch: where number 0, kPieceNumbers, 2 kPieceNumbers... begin.
    std::vector<size_t> pieceStarts;
};

// Reads the whole body once, keeping nothing but where the pieces start, so
// that a bad batch is refused before any answer is sent. kJson: one JSON
// array of strings; anything else, or malformed JSON or UTF-8, is an error.
// kLines: one number a line (LF or CR LF), the last without a line end,
// blank ones taken too, as vnlt query takes them. Either way, a number
// longer than kMaxNumberBytes or more than kMaxBatchNumbers of them is an
// error.
BatchCheck CheckBatch(BatchFormat format, std::string_view body);

// The refusal's text for a batch's error.
std::string BatchErrorText(BatchError error);

// The numbers of a body CheckBatch found good, one at a time, in order, from
// its start or from one of the check's piece starts.
class BatchCursor {
public:
    BatchCursor(BatchFormat format, std::string_view body, size_t from = std::string_view::npos);
    // False after the last. `*number` stays valid until the next call.
    bool Next(std::string_view* number);
    size_t Position() const { return at; }

private:
    BatchFormat format;
    std::string_view body;
    size_t at;
    std::string decoded;
};

// A batch in hand. The pieces are made by the batch threads, each piece by
// one, then handed to the connection's handlers, which own the rest.
struct Batch {
    std::string body;
    BatchFormat format = BatchFormat::kLines;
    std::shared_ptr<const Snapshot> snapshot;
    BatchCheck check;
    size_t pieceCount = 0;
    std::string pieces[kPiecesAhead];
    bool made[kPiecesAhead] = {};
    size_t launched = 0;
    size_t nextToSend = 0;
    size_t sent = 0;  // bytes of the reply's body
    bool sending = false;
};

// On a batch thread: piece `index` of the reply of a checked batch, into
// its slot of `batch.pieces`. The number of answers made.
size_t MakePiece(Batch& batch, size_t index);
