// The port map: which COM device carries which UART. It is the text of a
// small file beside io.dll, one mapping a line:
//
//   # comments run from '#' to the end of the line
//   any = COM5        every UART the host programs is carried by COM5
//   3F8 = COM3        the UART at base 3F8h is carried by COM3
//   D040h = \\.\COM12
//
// Keys are `any` or a UART base in hexadecimal (1 to 4 digits, an optional
// h), from 0100h to FFF8h so that all eight registers fit. Devices are
// COM1 to COM256 or a name in the \\.\ namespace. Explicit bases come
// before `any`: it carries every port that no explicit line claims.
//
// Reading it is a pure function: text in, mappings or one diagnostic out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace commio {

struct PortMapping {
    bool any;           // carries every port no explicit line claims
    std::uint16_t base; // explicit lines only
    std::string device; // as written in the file ("COM5")
    std::string path;   // what is opened ("\\.\COM5")
    int line;           // line number in the file, from 1
};

struct PortMapResult {
    std::vector<PortMapping> uarts; // explicit bases first, `any` last
    std::string error;              // empty when the text was read
    int errorLine = 0;              // the line the error is on; 0 for the whole file
};

constexpr std::size_t MaxPortMapBytes = 16384;
constexpr std::size_t MaxPortMapLine = 200;
constexpr std::size_t MaxMappedUarts = 8;

PortMapResult ParsePortMap(std::string_view text);

} // namespace commio
