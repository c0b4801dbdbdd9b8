// Allocations counted across a whole test program: a program that links
// zelbin_test_allocations gets a global operator new that counts every
// allocation and can be told to fail one.
#pragma once

namespace testsupport {

// Allocations made so far by the program.
long AllocationCount();
// The allocation with this number (as AllocationCount() counts them) throws
// std::bad_alloc; -1 for none.
void FailAllocationNumber(long number);

} // namespace testsupport
