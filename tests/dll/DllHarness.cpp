// Binds the behaviour tests to Zelbin_Serial.dll and the stand-in io.dll,
// loaded under a real PE loader.
#include "Harness.h"

#include <sstream>

#include "LoadedLibrary.h"

namespace {

template <typename Fn> Fn Control(const char *name) { return StandInIoFunction<Fn>(name); }

class DllHarness final : public Harness {
public:
    void StartListen(const char *params) override { exports_.StartListen(params); }
    void StopListen() override { exports_.StopListen(); }
    std::uint8_t IsZBToggle() override { return exports_.IsZBToggle(); }
    void SetToggled(std::uint8_t toggled) override { exports_.SetToggled(toggled); }
    std::uint8_t IsCustom() override { return exports_.IsCustom(); }

    void Fresh() override
    {
        Unload();
        Control<void(WINAPI *)()>("SimReset")();
        Load();
    }
    void Unload() override
    {
        if (module_)
            FreeLibrary(module_);
        module_ = nullptr;
        exports_ = {};
    }
    void Load() override { module_ = LoadKeyLibrary(Devices::Simulated, exports_); }

    void SetDriverInstalled(bool present) override
    {
        Control<void(WINAPI *)(BYTE)>("SimSetDriverInstalled")(present ? 1 : 0);
    }
    void SetBitSetValue(std::uint16_t value) override { Control<void(WINAPI *)(WORD)>("SimSetBitSetValue")(value); }
    void SetDriverValue(std::uint8_t value) override { Control<void(WINAPI *)(BYTE)>("SimSetDriverValue")(value); }
    void SetCts(std::uint16_t base, bool level) override
    {
        Control<BYTE(WINAPI *)(WORD, BYTE)>("SimSetKey")(base, level ? 1 : 0);
    }
    std::uint8_t Mcr(std::uint16_t base) override
    {
        return static_cast<std::uint8_t>(Control<WORD(WINAPI *)(WORD)>("SimGetModemControl")(base));
    }
    void SetDeviceExists(const char *name, bool exists) override
    {
        Control<void(WINAPI *)(const char *, BYTE)>("SimSetDeviceExists")(name, exists ? 1 : 0);
    }
    int HandlesHeld() override { return static_cast<int>(Control<DWORD(WINAPI *)()>("SimHandlesHeld")()); }
    std::vector<std::string> Transcript() override
    {
        auto record = Control<DWORD(WINAPI *)(char *, DWORD)>("SimGetCallRecord");
        std::string text(record(nullptr, 0), '\0');
        record(&text[0], static_cast<DWORD>(text.size()));
        std::vector<std::string> lines;
        std::istringstream in(text.c_str());
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        return lines;
    }
    void ClearTranscript() override { Control<void(WINAPI *)()>("SimClearCallRecord")(); }

private:
    HMODULE module_ = nullptr;
    Exports exports_{};
};

} // namespace

Harness &TheHarness()
{
    static DllHarness harness;
    return harness;
}
