// Binds the behaviour tests to the library and simulator linked into this
// program.
#include "Harness.h"

#include "Zelbin_Serial.h"
#include "library/Zelbin_SerialCore.h"
#include "sim/SimUart.h"
#include "sim/World.h"

namespace {

class HostHarness final : public Harness {
public:
    void StartListen(const char *params) override { ZelbinStartListen(params); }
    void StopListen() override { ZelbinStopListen(); }
    std::uint8_t IsZBToggle() override { return ZelbinIsZBToggle(); }
    void SetToggled(std::uint8_t toggled) override { ZelbinSetToggled(toggled); }
    std::uint8_t IsCustom() override { return ZelbinIsCustom(); }

    void Fresh() override
    {
        world().Reset();
        Load();
    }
    void Unload() override { library::Unload(); }
    void Load() override
    {
        library::portState = library::PortState{};
        library::Load();
    }

    void SetDriverInstalled(bool present) override { world().SetDriverInstalled(present); }
    void SetBitSetValue(std::uint16_t value) override { world().SetBitSetValue(value); }
    void SetDriverValue(std::uint8_t value) override { world().SetDriverValue(value); }
    void SetCts(std::uint16_t base, bool level) override { sim::SetCts(*world().UartAt(base), level); }
    std::uint8_t Mcr(std::uint16_t base) override { return world().UartAt(base)->mcr; }
    void SetDeviceExists(const char *name, bool exists) override { world().SetDeviceExists(name, exists); }
    int HandlesHeld() override { return static_cast<int>(world().HandlesHeld()); }
    std::vector<std::string> Transcript() override { return world().Transcript(); }
    void ClearTranscript() override { world().ClearCalls(); }

private:
    static sim::World &world() { return sim::TheWorld(); }
};

} // namespace

Harness &TheHarness()
{
    static HostHarness harness;
    return harness;
}
