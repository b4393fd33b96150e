// win32 backend
namespace win32_backend { int placeholder = 0; }
