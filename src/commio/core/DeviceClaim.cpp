#include "commio/DeviceClaim.h"

namespace commio {

const char kGetCommState[] = "GetCommState";
const char kSetCommState[] = "SetCommState";

void AskForKeyLines(DeviceSettings &settings, const LineSettings *line, bool dtr, bool rts)
{
    if (line) {
        settings.BaudRate = line->baud;
        settings.ByteSize = line->dataBits;
        settings.Parity = line->parity;
        settings.StopBits = line->stopBits;
    }
    // A format no UART makes is not handed back: the driver would refuse
    // the whole block for it, and the claim with it. (Wine answers a
    // terminal mode it can't name with a parity it never wrote.)
    if (settings.ByteSize < 5 || settings.ByteSize > 8)
        settings.ByteSize = 8;
    if (settings.Parity > SpaceParity)
        settings.Parity = NoParity;
    if (settings.StopBits > TwoStopBits)
        settings.StopBits = OneStopBit;
    // 1.5 stop bits go with 5 data bits only, 2 with 6 to 8 (as a UART's
    // one stop-bit switch reads): the other pairs are refused as well.
    if (settings.StopBits == OneAndHalfStopBits && settings.ByteSize != 5)
        settings.StopBits = OneStopBit;
    if (settings.StopBits == TwoStopBits && settings.ByteSize == 5)
        settings.StopBits = OneAndHalfStopBits;
    settings.fBinary = 1;
    settings.fParity = settings.Parity != NoParity;
    settings.fOutxCtsFlow = settings.fOutxDsrFlow = settings.fDsrSensitivity = 0;
    settings.fOutX = settings.fInX = settings.fAbortOnError = 0;
    settings.fDtrControl = dtr ? DtrControlEnable : DtrControlDisable;
    settings.fRtsControl = rts ? RtsControlEnable : RtsControlDisable;
}

std::uint32_t ApplyKeyLineState(CommApi &api, DeviceHandle handle, const LineSettings *line, bool dtr, bool rts,
                                const char *&call)
{
    // Start from the device's own settings so that what is not asked for
    // stays as the driver has it.
    DeviceSettings settings{};
    call = kGetCommState;
    if (const std::uint32_t error = api.GetState(handle, settings))
        return error;
    AskForKeyLines(settings, line, dtr, rts);
    call = kSetCommState;
    return api.SetState(handle, settings);
}

} // namespace commio
