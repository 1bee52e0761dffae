// The small POSIX socket layer under the network node, and the Net* socket functions that
// socket destinations use.
//
// Errors are reported with the numbers the rest of the library tests (Winsock numbering, so
// that 10061 still means "refused"). Every send uses MSG_NOSIGNAL: a peer that went away is an
// error result, never a signal.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

constexpr int kNetErrBadFrame = 10022;     // a peer sent bytes that are not a valid frame
constexpr int kNetErrAddrInUse = 10048;    // a listening port another program holds
constexpr int kNetErrConnAborted = 10053;  // ended on this side
constexpr int kNetErrConnReset = 10054;    // the peer went away
constexpr int kNetErrNotConnected = 10057;
constexpr int kNetErrTimedOut = 10060;
constexpr int kNetErrRefused = 10061;
constexpr int kNetErrUnreachable = 10065;
constexpr int kNetErrHostNotFound = 11001;
constexpr int kNetErrOther = 10004;

namespace netio {

// errno to the library's error numbers.
int MapErrno(int err);
// Connects a TCP socket; on success *fd owns it (no-delay set). cancel, when given, is polled
// every 50 ms and ends the attempt with kNetErrConnAborted.
int TcpConnect(const char* host, int port, uint32_t timeout_ms, const volatile bool* cancel,
               int* fd);
// Listens on all addresses; port 0 takes an ephemeral port, reported in *bound_port.
int TcpListen(int port, int* fd, int* bound_port);
// Returns false when the peer closed or on error.
bool SendAll(int fd, const void* data, size_t size);
bool RecvAll(int fd, void* data, size_t size);
std::string PeerAddress(int fd);

}  // namespace netio

// ---- Socket functions ----
// A socket is either a client (NetConnect) or a server (NetListen, adopting one peer at a time
// as it calls in). Results: 0 for success or an error number, except NetSend and NetRecv, which
// return a byte count (-1 for an error or, when not waiting, no data).
struct NetSocket;
NetSocket* NetCreateClientSocket();
NetSocket* NetCreateServerSocket();
void NetDeleteSocket(NetSocket* s);
int NetConnect(NetSocket* s, const char* host, int port);
int NetListen(NetSocket* s, int port);
// The port a server socket listens on (useful after NetListen with port 0).
int NetGetListenPort(NetSocket* s);
// A server socket adopts a waiting peer here. A peer that closed is noticed within 5 ms, or at
// once by a send that fails.
int NetIsConnected(NetSocket* s);
int NetIsListening(NetSocket* s);
// Gives up (-1) after 3000 ms on a peer that stops reading; a peer found gone is let go.
int NetSend(NetSocket* s, const void* data, int length);
// wait non-zero: blocks until bytes arrive (without limit when event waiting is on, else at
// most 1000 ms). Returns the count, 0 when the peer closed. Safe to call beside sends and a
// disconnect on other threads.
int NetRecv(NetSocket* s, void* buffer, int length, int wait);
int NetDisconnect(NetSocket* s);
int NetGetSocket(NetSocket* s);
int NetSetEventWaiting(NetSocket* s, int flag);
