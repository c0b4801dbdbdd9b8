// The DCB and the comm-port io.dll's portable settings block, field by field;
// the settings themselves are the core's business.
#include "commio/Dcb.h"

namespace commio {

DeviceSettings FromDcb(const DCB &dcb)
{
    DeviceSettings s{};
    s.BaudRate = dcb.BaudRate;
    s.fBinary = static_cast<std::uint8_t>(dcb.fBinary);
    s.fParity = static_cast<std::uint8_t>(dcb.fParity);
    s.fOutxCtsFlow = static_cast<std::uint8_t>(dcb.fOutxCtsFlow);
    s.fOutxDsrFlow = static_cast<std::uint8_t>(dcb.fOutxDsrFlow);
    s.fDtrControl = static_cast<std::uint8_t>(dcb.fDtrControl);
    s.fDsrSensitivity = static_cast<std::uint8_t>(dcb.fDsrSensitivity);
    s.fTXContinueOnXoff = static_cast<std::uint8_t>(dcb.fTXContinueOnXoff);
    s.fOutX = static_cast<std::uint8_t>(dcb.fOutX);
    s.fInX = static_cast<std::uint8_t>(dcb.fInX);
    s.fErrorChar = static_cast<std::uint8_t>(dcb.fErrorChar);
    s.fNull = static_cast<std::uint8_t>(dcb.fNull);
    s.fRtsControl = static_cast<std::uint8_t>(dcb.fRtsControl);
    s.fAbortOnError = static_cast<std::uint8_t>(dcb.fAbortOnError);
    s.fDummy2 = dcb.fDummy2;
    s.wReserved = dcb.wReserved;
    s.XonLim = dcb.XonLim;
    s.XoffLim = dcb.XoffLim;
    s.ByteSize = dcb.ByteSize;
    s.Parity = dcb.Parity;
    s.StopBits = dcb.StopBits;
    s.XonChar = dcb.XonChar;
    s.XoffChar = dcb.XoffChar;
    s.ErrorChar = dcb.ErrorChar;
    s.EofChar = dcb.EofChar;
    s.EvtChar = dcb.EvtChar;
    s.wReserved1 = dcb.wReserved1;
    return s;
}

DCB ToDcb(const DeviceSettings &s)
{
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    dcb.BaudRate = s.BaudRate;
    dcb.fBinary = s.fBinary & 1u;
    dcb.fParity = s.fParity & 1u;
    dcb.fOutxCtsFlow = s.fOutxCtsFlow & 1u;
    dcb.fOutxDsrFlow = s.fOutxDsrFlow & 1u;
    dcb.fDtrControl = s.fDtrControl & 3u;
    dcb.fDsrSensitivity = s.fDsrSensitivity & 1u;
    dcb.fTXContinueOnXoff = s.fTXContinueOnXoff & 1u;
    dcb.fOutX = s.fOutX & 1u;
    dcb.fInX = s.fInX & 1u;
    dcb.fErrorChar = s.fErrorChar & 1u;
    dcb.fNull = s.fNull & 1u;
    dcb.fRtsControl = s.fRtsControl & 3u;
    dcb.fAbortOnError = s.fAbortOnError & 1u;
    dcb.fDummy2 = s.fDummy2 & 0x1FFFFu;
    dcb.wReserved = s.wReserved;
    dcb.XonLim = s.XonLim;
    dcb.XoffLim = s.XoffLim;
    dcb.ByteSize = s.ByteSize;
    dcb.Parity = s.Parity;
    dcb.StopBits = s.StopBits;
    dcb.XonChar = s.XonChar;
    dcb.XoffChar = s.XoffChar;
    dcb.ErrorChar = s.ErrorChar;
    dcb.EofChar = s.EofChar;
    dcb.EvtChar = s.EvtChar;
    dcb.wReserved1 = s.wReserved1;
    return dcb;
}

} // namespace commio
