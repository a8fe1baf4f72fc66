#pragma once

#include "runtime/Picture.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

// A camera-like pair: a subject with smooth colours, soft edges and a
// half-clear part, shot over white and over black, each shot with its own
// sensor noise (about two levels). Its result compresses about as a real
// photograph's does.
struct PhotoPair {
    Ref<Picture> white;
    Ref<Picture> black;

    PhotoPair(std::int32_t width, std::int32_t height)
        : white(Picture::create(width, height))
        , black(Picture::create(width, height))
    {
        std::uint64_t noiseState = 0x9E3779B97F4A7C15ull;
        // A sum of four uniform bytes: near enough to a bell curve.
        auto const noise = [&noiseState] {
            noiseState ^= noiseState << 13;
            noiseState ^= noiseState >> 7;
            noiseState ^= noiseState << 17;
            auto const bits = static_cast<std::uint32_t>(noiseState >> 16);
            int const sum = static_cast<int>((bits & 0xFF) + ((bits >> 8) & 0xFF) + ((bits >> 16) & 0xFF) + (bits >> 24));
            return (sum - 510) / 72;
        };
        double const cx = width / 2.0, cy = height / 2.0, rx = width * 0.35, ry = height * 0.4;
        for (std::int32_t y = 0; y < height; ++y) {
            std::uint32_t* whiteRow = white->row(y);
            std::uint32_t* blackRow = black->row(y);
            for (std::int32_t x = 0; x < width; ++x) {
                double const dx = (x - cx) / rx, dy = (y - cy) / ry;
                double alpha = std::clamp((1.0 - std::sqrt(dx * dx + dy * dy)) * 30.0, 0.0, 1.0);
                if (x > cx && y < cy)
                    alpha *= 0.55;
                double const colour[3] = {
                    128 + 80 * std::sin(x / 230.0 + 0.7 * std::sin(y / 410.0)),
                    120 + 70 * std::sin(y / 170.0 + x / 900.0),
                    100 + 60 * std::cos((x + y) / 320.0),
                };
                auto const shot = [&](double ground) {
                    std::uint32_t word = 0xFF000000u;
                    for (int c = 0; c < 3; ++c) {
                        int const value = static_cast<int>(std::lround(colour[c] * alpha + ground * (1 - alpha))) + noise();
                        word |= static_cast<std::uint32_t>(std::clamp(value, 0, 255)) << (16 - 8 * c);
                    }
                    return word;
                };
                whiteRow[x] = shot(255);
                blackRow[x] = shot(0);
            }
        }
    }
};
