/* Placeholder translation unit until the client library has sources. */
int qv_client_placeholder_unused;
