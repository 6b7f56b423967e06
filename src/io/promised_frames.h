#pragma once

#include <sndfile.h>

#include <cstdint>
#include <string_view>

namespace tonbrix {

// The frames the header of a file of `info` promised according to
// libsndfile's log of reading it (`log`, from SFC_GET_LOG_INFO), when the
// file holds fewer: libsndfile then shortens the length it gives to what
// is there and only its log tells. 0 when the log shows no such shortfall,
// for a 32-bit size that marks an unknown length (a file written to a pipe),
// for compressed samples (whose frames the size does not tell) and for a
// type whose log does not say.
uint64_t logged_promised_frames(std::string_view log, const SF_INFO& info);

// The frames an open input's header promised: the log's promise, else the
// length libsndfile gives; 0 when the length is not known (a pipe, raw
// data).
uint64_t promised_frames(SNDFILE* file, const SF_INFO& info);

} // namespace tonbrix
