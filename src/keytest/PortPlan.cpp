#include "keytest/PortPlan.h"

#include <cctype>
#include <cstdio>
#include <new>

#include "library/PortChoice.h"

namespace keytest {

std::string HexBase(std::uint16_t base)
{
    char text[8];
    std::snprintf(text, sizeof text, "%04Xh", base);
    return text;
}

namespace {

std::string Text(const library::TText &text) { return std::string(text.Data(), text.Size()); }

} // namespace

std::string AddressText(std::uint16_t base)
{
    char text[8];
    std::snprintf(text, sizeof text, "%Xh", base);
    return text;
}

std::optional<std::uint16_t> MapBaseFor(const std::string &parameters)
{
    if (parameters.empty())
        return std::nullopt;
    const PortPlan plan = PlanPort(parameters.c_str());
    return plan.baseAccepted ? std::optional<std::uint16_t>(plan.base) : std::nullopt;
}

PortPlan PlanPort(const char *params)
{
    PortPlan plan;
    const library::PortChoice choice = library::ChoosePort(params);
    if (choice.outOfMemory)
        throw std::bad_alloc();
    plan.portName = Text(choice.portName);
    plan.addressText = Text(choice.addressText);
    plan.base = library::DecodeBaseAddress(choice.addressText);
    plan.baseAccepted = library::IsUartBase(plan.base);

    // A single item is looked up in the table; one that isn't there is
    // quietly read as the default.
    if (choice.source == library::ChoiceSource::UnknownName)
        plan.warnings.push_back("'" + Text(choice.unknownName) + "' is not one of the names COM1 to COM4 (written exactly "
                                "so), so the library uses " + plan.portName + " at " + plan.addressText +
                                ". For another port give \"NAME;ADDRh\".");
    const std::string &address = plan.addressText;
    const bool hexPrefix = address.size() > 2 && address[0] == '0' && (address[1] == 'x' || address[1] == 'X');
    if (choice.source == library::ChoiceSource::Given && address.empty())
        plan.warnings.push_back("The address is empty: a second item is the UART's base as written, and an empty "
                                "one reads 0000h. Give the base, such as '" + plan.portName + ";2F8h', or the "
                                "name alone for one of COM1 to COM4.");
    else if (address.size() == 1 && !std::isxdigit(static_cast<unsigned char>(address[0])))
        plan.warnings.push_back("The address text '" + address + "' is only a suffix, with no digits before it: "
                                "it reads 0000h. Write the base before the suffix, such as '2F8" + address + "'.");
    if (hexPrefix)
        plan.warnings.push_back("The address text '" + address + "' starts with 0x: the library takes no prefix, "
                                "and the 'x' ends its reading at " + HexBase(plan.base) + ". Write it as '" +
                                address.substr(2) +
                                (std::isxdigit(static_cast<unsigned char>(address.back())) ? "h" : "") + "'.");
    else if (!address.empty() && std::isxdigit(static_cast<unsigned char>(address.back())))
        plan.warnings.push_back("The address text '" + address + "' ends in a hex digit: the library drops the "
                                "last character as the suffix and reads " + HexBase(plan.base) + ". Write it "
                                "with a suffix, such as '" + address + "h'.");
    if (!plan.baseAccepted)
        plan.warnings.push_back("The base " + HexBase(plan.base) + " lies outside " + HexBase(library::LowestUartBase) +
                                " to " + HexBase(library::HighestUartBase) + ": the library refuses it, opens nothing and "
                                "reports no press.");
    return plan;
}

} // namespace keytest
