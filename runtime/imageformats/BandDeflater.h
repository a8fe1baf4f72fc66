#pragma once

#include <cstdint>
#include <span>
#include <vector>

// Compresses one band of a zlib stream's data as raw deflate blocks, so that
// bands compressed apart, each on a core of its own, join into one stream:
// a band ends on a byte boundary (a sync flush), the last one with the
// final block. The data just before the band, up to the 32 KiB that deflate
// can reach back, primes the matcher, so a band loses little by starting
// apart.
//
// Of two coders, the one that does better on the band compresses it: ISA-L's
// fast matcher, which wins on graphics and smooth pictures, or zlib's
// run-length coder, which wins on photographs: their noise holds no real
// repeats, only short chance matches that cost more than the bytes they
// replace. Both compress a few slices spread over the band to decide, or
// the whole band when it is small, keeping the smaller result.
class BandDeflater {
public:
    BandDeflater();

    // Appends the compressed band to out.
    void compress(std::span<std::uint8_t const> before, std::span<std::uint8_t const> band, bool last, std::vector<std::uint8_t>& out);

private:
    bool runsDoBetter(std::span<std::uint8_t const> band);
    std::span<std::uint8_t const> compressWithMatches(std::span<std::uint8_t const> before, std::span<std::uint8_t const> band, bool last);
    std::span<std::uint8_t const> compressWithRuns(std::span<std::uint8_t const> band, bool last);

    std::vector<std::uint8_t> m_matcherState;
    std::vector<std::uint8_t> m_matched;
    std::vector<std::uint8_t> m_runs;
};
