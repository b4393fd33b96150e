// placeholder until the handheld lands
namespace handheld { int placeholder = 0; }
