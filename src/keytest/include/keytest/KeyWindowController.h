// What the key tester's window does, apart from drawing it: the port list's
// texts, the line that says which io.dll is loaded, and the search for the
// key (the libraries given back for it, the question whether to write the
// map line, the libraries loaded again after). Windows is reached through
// WindowHost, so all of it runs in the host tests.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "commio/CommApi.h"
#include "keytest/IoStatus.h"
#include "keytest/KeyTestSession.h"
#include "keytest/KeyWindowModel.h"
#include "keytest/PortPlan.h"
#include "portsetup/KeySearch.h"
#include "portsetup/PortList.h"

namespace keytest {

// The io.dll a load brought in, as the window shows it.
struct IoDescription {
    std::string path;
    std::string kind;         // "commio io.dll, over the Windows serial driver", ...
    bool driverAnswers = false;
    bool commio = false;
    IoDllStatus commioStatus; // its status, read after the driver check; empty for another io.dll
};

class WindowHost {
public:
    virtual ~WindowHost() = default;
    // Zelbin_Serial.dll and its io.dll, loaded as the options say: empty,
    // or why not. Target() and DescribeIo() only after a load that worked.
    virtual std::string LoadLibraries() = 0;
    virtual void UnloadLibraries() = 0;
    virtual KeyTestTarget &Target() = 0;
    virtual IoDescription DescribeIo() = 0;
    // The ports as --ports lists them, each probed, with its map line.
    virtual std::vector<portsetup::PortInfo> ListAndProbePorts(std::string &mapProblem) = 0;
    // What a search watches, and the serial driver it watches them through.
    virtual std::vector<portsetup::PortInfo> PortsToSearch() = 0;
    virtual commio::CommApi &Serial() = 0;
    virtual std::uint32_t Ticks() = 0; // milliseconds, wrapping
    // A yes-or-no question to the technician.
    virtual bool Ask(const std::string &title, const std::string &question) = 0;
    // io-ports.txt beside the comm-port io.dll, and the finding written there
    // for the UART at `base` (see portsetup::PlanMapWrite).
    virtual std::string MapPath() = 0;
    virtual bool WriteMap(const portsetup::Finding &finding, std::optional<std::uint16_t> base,
                          const std::function<void(const std::string &)> &print) = 0;
    virtual SystemText SystemMessages() = 0;
    // The console's preflight for a test with `plan`: what is in use, and
    // the warnings.
    virtual std::vector<std::string> Preflight(const PortPlan &plan) = 0;
};

class KeyWindowController {
public:
    KeyWindowController(WindowHost &host, KeyWindowModel &model) : host_(host), model_(model) {}

    // Loads the libraries and lists the ports: the list is made before a
    // comm-port io.dll claims the ports of its map, so that they are listed
    // as they are.
    void LoadAndList();
    bool Loaded() const { return loadError_.empty(); }
    KeyTestTarget &Target() { return host_.Target(); }

    const std::vector<portsetup::PortInfo> &Ports() const { return ports_; }
    // The port list's items: "COM5  USB Serial Port (COM5)  (free)  io-ports.txt line 2".
    std::vector<std::string> PortItems() const;
    // The port to show picked as the window opens: the one the map's first
    // line carries, else the first free one; none (-1) where there is none.
    int FirstPort() const;
    // The parameter text that picking port `index` gives: COM1 to COM4 by
    // name where the library's table gives their base, else the name and
    // the base its map line is for ("COM12;2F8h"), or the library's default
    // base 3F8h.
    std::string ParametersFor(std::size_t index) const;
    // "io.dll: PATH (KIND), driver answers; STATUS", then a line for each
    // thing to do; or why nothing can be tested. Lines end in "\n".
    std::string IoLine();
    // Whether the window should lead with Find: the comm-port io.dll holds
    // no device (no map, or none of its ports held).
    bool LeadWithFind();

    // The console's search, its lines into the model's log. The libraries
    // are given back for it, so that a comm-port io.dll gives back the ports
    // it holds.
    void StartFind(const portsetup::SearchLimits &limits);
    bool Searching() const { return search_ != nullptr; }
    // One poll of the search; true once it is over (then EndFind("")).
    bool PollFind();
    // Ends the search (`stopped`: why it was cut short, or empty), offers to
    // write the map line for a key it found, as --write-map writes it (for
    // the UART `parameters` select, where they name one), and loads the
    // libraries again, so that the next test uses that map.
    void EndFind(const std::string &stopped, const std::string &parameters = {});
    // The parameter text for the key the last search found ("COM5;3F8h"),
    // for a test of it; empty where it found none.
    const std::string &FoundParameters() const { return foundParameters_; }
    // Ends the search as the window closes: every port given back, nothing
    // asked, nothing loaded again.
    void AbandonFind();

private:
    WindowHost &host_;
    KeyWindowModel &model_;
    std::string loadError_;
    std::vector<portsetup::PortInfo> ports_;
    std::unique_ptr<portsetup::KeySearch> search_;
    std::string foundParameters_;
};

} // namespace keytest
