/*
 * Status codes of qvServer and its client library: the one table both sides
 * share. 0 is success, 0x4000.. are warnings, 0x8000.. are errors.
 *
 * QV_STATUS_TABLE(X) expands X(name, code, text) once per code, in ascending
 * order; text is what qvAPIGetError hands out for the code. Plain C, so that
 * the client's public header can include it.
 */
#ifndef QV_WIRE_STATUS_CODES_H
#define QV_WIRE_STATUS_CODES_H

#define QV_STATUS_TABLE(X)                                                   \
    X(QV_NO_ERROR, 0x0000, "Success (no error)")                             \
    X(QV_WARN_GENERAL, 0x4000, "Warning (general)")                          \
    X(QV_UNDERRUN, 0x4001, "FIFO Underrun")                                  \
    X(QV_OVERFLOW, 0x4002, "FIFO Overflow")                                  \
    X(QV_VALUE_NOT_FOUND, 0x4003, "Value or Node not found")                 \
    X(QV_ERR_GENERAL, 0x8000, "Error (general)")                             \
    X(QV_USB_FAILED, 0x8001, "USB Communication failed")                     \
    X(QV_ALLOC_FAILED, 0x8002, "Memory allocation failed")                   \
    X(QV_MUTEX_INIT_FAILED, 0x8003, "Unable to initialize mutex")            \
    X(QV_MUTEX_DESTROY_FAILED, 0x8004, "Unable to destroy mutex")            \
    X(QV_MUTEX_LOCK, 0x8005, "Unable to lock mutex")                         \
    X(QV_MUTEX_UNLOCK, 0x8006, "Unable to unlock mutex")                     \
    X(QV_THREAD_START_FAILED, 0x8007, "Unable to start thread")              \
    X(QV_THREAD_JOIN_FAILED, 0x8008, "Unable to join thread")                \
    X(QV_SOCKET_INIT_FAILED, 0x8009, "Can't initialize socket")              \
    X(QV_SOCKET_CONNECT_FAILED, 0x800A, "Unable to connect socket")          \
    X(QV_HOST_NOT_FOUND, 0x800B, "Hostname not found")                       \
    X(QV_CONNECTION_INVALID, 0x800C, "Connection invalid")                   \
    X(QV_COMMAND_TIMEOUT, 0x800D, "Command timed out")                       \
    X(QV_COMMAND_INTERNAL, 0x800E, "Command internally failed")              \
    X(QV_COMMAND_SERVER_FAILED, 0x800F, "Command failed in server")          \
    X(QV_BUFFER_TOO_SMALL, 0x8010, "Provided Buffer is too small")           \
    X(QV_FILE_FAILED, 0x8011, "Can't open file or read from it")             \
    X(QV_ITEM_EXISTS, 0x8012, "There is already a similar item")

#define QV_STATUS_ENUMERATOR(name, code, text) name = code,
enum { QV_STATUS_TABLE(QV_STATUS_ENUMERATOR) };
#undef QV_STATUS_ENUMERATOR

#endif /* QV_WIRE_STATUS_CODES_H */
