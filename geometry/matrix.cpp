// filled in by the geometry work
