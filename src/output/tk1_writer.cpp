// (being written)
namespace wtk {}
