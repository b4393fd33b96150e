// host backend
namespace host_backend { int placeholder = 0; }
