// The entry point of the HTTP module, looked up by online/ui/LazyHttpFetcher.
#include "online/ui/http/HttpFetcher.h"

extern "C" {

// A new fetcher, owned by the caller; made and used on the user-interface
// thread.
Q_DECL_EXPORT nebrin::IHttpFetcher* nebrin_http_create_fetcher() { return new nebrin::QtHttpFetcher(); }

}  // extern "C"
