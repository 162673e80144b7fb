// What the receiver tells the operator in a balloon when the port, the socket or the log file
// fails, and when it works again. Each notice names what failed and what happens meanwhile.
// Code page 936 texts.
#pragma once

#include <cstddef>
#include <string>

extern const char NOTICE_PORT_OPEN[];
extern const char NOTICE_LOG_FAILING[];
extern const char NOTICE_LOG_RECOVERED[];
extern const char NOTICE_ARCHIVE_FAILING[];
extern const char NOTICE_RECEIVE_FAULT[];
extern const char NOTICE_WRITE_FAULT[];

// UDP 6000 could not be bound; the receiver tries again every few seconds.
std::string PortNotice(int nWinsockError);
// The queue between the socket and the log was full.
std::string DroppedNotice(std::size_t nDropped);
// The operator's delete left the file where it was.
std::string DeleteFailedNotice(unsigned long dwError);
