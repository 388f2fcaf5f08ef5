#ifndef WIRECOMM_HOST_H
#define WIRECOMM_HOST_H
/*
 * Host side of the wirecomm conversation protocol.
 *
 * The PC side (wirecomm.h, the cm_* calls) allocates a conversation with a
 * started task on the host; this interface is the other end: it listens on
 * a TCP address, accepts one conversation at a time, tells who asked for it,
 * answers the allocation with a return code and then exchanges blocks with
 * the PC under the half-duplex turn. docs/wire-protocol.md describes the
 * frames on the wire.
 *
 * Return codes are the CPI-C values of wirecomm.h (CM_OK, CM_DEALLOCATED_NORMAL,
 * ...); cm_rc2str() gives their texts.
 *
 * Threads: one listener and each conversation may be used by one thread at a
 * time (calls on one wch_conv are serialised inside the library, so a second
 * thread simply waits); different conversations are independent.
 */

#include <stddef.h>
#include <stdint.h>

#include "wirecomm.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Limits of the allocation fields (bytes, without the terminating NUL). */
#define WCH_MAX_NAME 64      /* symbolic destination, user id, tag */
#define WCH_MAX_PASSWORD 128 /* password or pass phrase */

typedef struct wch_listener wch_listener;
typedef struct wch_conv wch_conv;

/* How a listener secures its conversations. */
typedef struct wch_config {
    /* 0: plain TCP; the PC must use crypt mode 1 (password encrypted by an
     *    ephemeral key agreement, data in clear).
     * 1: TLS; the PC must use crypt mode 3 or 4. */
    int32_t tls;
    /* TLS: PEM file with the server certificate (chain allowed). */
    const char* cert_file;
    /* TLS: PEM file with the server's private key (not encrypted). */
    const char* key_file;
    /* TLS: PEM file of the CAs that client certificates must chain to.
     * When set, a client certificate is requested; one that is presented
     * must verify. NULL or "": crypt mode 4 is refused with
     * CM_SECURITY_NOT_VALID (no client certificate can be checked). */
    const char* client_ca_file;
    /* TLS: OpenSSL security level of the server context; below 0: leave
     * OpenSSL's default. */
    int32_t security_level;
} wch_config;

/* Who asked for a conversation: filled by wch_accept. */
typedef struct wch_alloc_info {
    char symdest[WCH_MAX_NAME + 1];      /* symbolic destination = started-task member */
    char user[WCH_MAX_NAME + 1];         /* user id */
    char tag[WCH_MAX_NAME + 1];          /* step name tag; "" when the PC set none */
    char password[WCH_MAX_PASSWORD + 1]; /* password or pass phrase, decrypted */
    int32_t password_check;              /* 1: check the password, 0: only the user */
    int32_t crypt_mode;                  /* 1, 3 or 4 */
    char peer_address[64];               /* numeric address of the PC */
    uint16_t peer_port;                  /* its TCP port */
    char client_cn[256];                 /* mode 4: common name of the verified client
                                            certificate; "" otherwise */
} wch_alloc_info;

/* Listens on address (numeric IPv4/IPv6, "" or NULL = 127.0.0.1) and port
 * (0 = a free port chosen by the system; see wch_listener_port). The config
 * is copied; NULL means plain TCP. Returns NULL and sets *rc on failure
 * (CM_PARAMETER_ERROR for a bad address or unreadable certificate/key,
 * CM_PRODUCT_SPECIFIC_ERROR when the socket cannot be bound). */
wch_listener* wch_listen(const char* address, uint16_t port, const wch_config* config, int32_t* rc);

/* The port the listener is bound to. */
uint16_t wch_listener_port(const wch_listener* listener);

/* Stops listening and frees the listener. Conversations already accepted
 * stay usable. NULL is ignored. */
void wch_listener_close(wch_listener* listener);

/* Waits up to timeout_ms (below 0: no limit) for a PC, then runs the
 * TLS handshake (tls listeners), the hello exchange and reads the
 * allocation request, all within the same limit. On success the
 * conversation waits for wch_allocate_reply and *rc is CM_OK.
 * On failure returns NULL with *rc:
 *   CM_OPERATION_INCOMPLETE   no PC connected within the limit, or the PC
 *                             did not complete its allocation in time
 *   CM_SECURITY_NOT_VALID     mode 4 without a verified client certificate,
 *                             or the password could not be decrypted (the
 *                             PC has been answered with this code)
 *   CM_SECURITY_NOT_SUPPORTED the PC asked for a crypt mode this listener
 *                             does not serve (the PC has been answered)
 *   CM_RESOURCE_FAILURE_NO_RETRY  TLS handshake failed or the PC sent
 *                             malformed frames (e.g. a plain PC on a TLS
 *                             listener); the connection is closed
 *   CM_RESOURCE_FAILURE_RETRY the PC closed the connection early
 * A failed accept concerns only that one connection; call again for the
 * next PC. */
wch_conv* wch_accept(wch_listener* listener, int32_t timeout_ms, int32_t* rc);

/* The same in two steps, so that a server can accept the next PC while
 * another thread runs the handshake of this one:
 * wch_accept_connection takes one TCP connection only (*rc CM_OK, or
 * CM_OPERATION_INCOMPLETE when no PC came within timeout_ms);
 * wch_handshake then runs TLS, hello and allocation request within its own
 * limit and returns the codes listed for wch_accept. After a failed
 * handshake the connection is closed; free conv with wch_conv_free. */
wch_conv* wch_accept_connection(wch_listener* listener, int32_t timeout_ms, int32_t* rc);
int32_t wch_handshake(wch_conv* conv, int32_t timeout_ms);

/* The allocation request of an accepted conversation (valid until
 * wch_conv_free). The password field is wiped by wch_allocate_reply:
 * check it before answering. */
const wch_alloc_info* wch_conv_info(const wch_conv* conv);

/* Answers the allocation. rc CM_OK accepts: the PC's cm_allc returns 0 and
 * the PC holds the turn. Any other value rejects: the PC's cm_allc returns
 * that value (e.g. CM_SECURITY_NOT_VALID for a wrong password,
 * CM_TPN_NOT_RECOGNIZED for an unknown member) and the connection is
 * closed; only wch_conv_free is left to call. Returns the result of
 * sending the reply (CM_OK or a resource failure code). */
int32_t wch_allocate_reply(wch_conv* conv, int32_t rc);

/* Receives one block of the PC into buffer (capacity bytes; a block is at
 * most WC_MAX_BLOCK - 1 bytes, so WC_MAX_BLOCK always suffices). Waits up
 * to timeout_ms (below 0: no limit). Returns:
 *   CM_OK                    *length = bytes (0 = an empty block),
 *                            *hand_over = 1 when the PC passed the turn
 *   CM_OPERATION_INCOMPLETE  nothing complete arrived within the limit
 *                            (partial input is kept; the conversation
 *                            stays usable)
 *   CM_DEALLOCATED_NORMAL    the PC ended the conversation (cm_deal)
 *   CM_DEALLOCATED_ABEND     the PC stopped the conversation (cm_stop)
 *   CM_RESOURCE_FAILURE_RETRY     the PC closed the connection
 *   CM_RESOURCE_FAILURE_NO_RETRY  malformed or oversized frame; refused
 *                            without reading its data; connection closed
 *   CM_PROGRAM_PARAMETER_CHECK    bad arguments (NULL, block larger than
 *                            capacity: the block is then lost)
 *   CM_PROGRAM_STATE_CHECK   allocation not accepted or conversation ended
 * length and hand_over may be NULL. */
int32_t wch_receive(wch_conv* conv, unsigned char* buffer, int32_t capacity, int32_t* length, int32_t* hand_over,
                    int32_t timeout_ms);

/* Sends one block of length bytes (0 .. WC_MAX_BLOCK - 1). hand_over 1
 * passes the turn to the PC. Length out of range or NULL data with a
 * length: CM_PROGRAM_PARAMETER_CHECK, nothing sent. A PC that does not
 * read for 60 seconds breaks the conversation (CM_RESOURCE_FAILURE_NO_RETRY). */
int32_t wch_send(wch_conv* conv, const unsigned char* data, int32_t length, int32_t hand_over);

/* Sends the empty block (ACK) that returns the turn to the PC. */
int32_t wch_send_ack(wch_conv* conv);

/* Blocks without hand_over are buffered: wch_send writes them when the
 * buffer holds 64 KiB, when a block has waited 50 ms and another one is
 * sent, or with the block that passes the turn; wch_receive, the end calls,
 * wch_send_raw and wch_conv_free write them first. wch_flush writes them at
 * once, keeping the turn (a host that pauses in the middle of its answer).
 * Returns CM_OK or the code a failed wch_send gives. */
int32_t wch_flush(wch_conv* conv);

/* Ends the conversation normally: the PC's next receive gets
 * CM_DEALLOCATED_NORMAL. The connection is closed afterwards; further calls
 * on conv give CM_PROGRAM_STATE_CHECK. */
int32_t wch_deallocate(wch_conv* conv);

/* Ends the conversation abnormally: the PC's next receive gets
 * CM_DEALLOCATED_ABEND (a send of the PC meanwhile may fail with
 * CM_RESOURCE_FAILURE_RETRY once the connection is gone). The connection
 * is closed afterwards. */
int32_t wch_stop(wch_conv* conv);

/* Writes bytes to the connection as they are, outside any frame (inside
 * the TLS channel on tls listeners); allowed also before
 * wch_allocate_reply. For tests of a PC's handling of hostile or broken
 * input; never needed in normal operation. */
int32_t wch_send_raw(wch_conv* conv, const void* bytes, size_t count);

/* Closes the connection without a word (when still open; the PC sees a
 * lost connection) and frees the conversation, wiping the password.
 * NULL is ignored. */
void wch_conv_free(wch_conv* conv);

#ifdef __cplusplus
}
#endif

#endif /* WIRECOMM_HOST_H */
