#include "keytest/PortPlan.h"

#include <cctype>
#include <cstdio>

#include "library/PortChoice.h"

std::string HexBase(std::uint16_t base)
{
    char text[8];
    std::snprintf(text, sizeof text, "%04Xh", base);
    return text;
}

PortPlan PlanPort(const char *params)
{
    PortPlan plan;
    const TPortChoice choice = ChoosePort(params);
    plan.portName = choice.PortName;
    plan.addressText = choice.AddressText;
    plan.base = DecodeBaseAddress(choice.AddressText);
    plan.baseAccepted = IsUartBase(plan.base);

    // A single item is looked up in the table; one that isn't there is
    // quietly read as the default.
    if (choice.Source == TPortSource::UnknownName)
        plan.warnings.push_back("'" + choice.UnknownName + "' is not one of the names COM1 to COM4 (written exactly "
                                "so), so the library uses " + plan.portName + " at " + plan.addressText +
                                ". For another port give \"NAME;ADDRh\".");
    const std::string &address = plan.addressText;
    if (!address.empty() && std::isxdigit(static_cast<unsigned char>(address.back())))
        plan.warnings.push_back("The address text '" + address + "' ends in a hex digit: the library drops the "
                                "last character as the suffix and reads " + HexBase(plan.base) + ". Write it "
                                "with a suffix, such as '" + address + "h'.");
    if (!plan.baseAccepted)
        plan.warnings.push_back("The base " + HexBase(plan.base) + " lies outside " + HexBase(LowestUartBase) +
                                " to " + HexBase(HighestUartBase) + ": the library refuses it, opens nothing and "
                                "reports no press.");
    return plan;
}
