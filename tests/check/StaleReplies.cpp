// The fault the check must catch, put into a build of imex.dll for the test:
// the link no longer drops what is on the line before a request goes out,
// so a reply left there (a duplicate, a late one) is taken for the next
// record's. The DLL is linked with --wrap on FramedPort::DiscardInput, and
// this stands in for it.
extern "C" void __wrap__ZN10FramedPort12DiscardInputEv() {}
