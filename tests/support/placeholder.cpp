// Test support lives in this folder; see tests/README.md.
namespace kestrel_testing {
int supportLinked = 0;
}
