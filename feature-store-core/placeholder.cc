// Replaced by the store's sources.
namespace ostrel::store {
int placeholder() { return 0; }
}  // namespace ostrel::store
