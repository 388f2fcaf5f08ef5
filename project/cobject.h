#pragma once

// Root of the program's classes: every object can be destroyed through a
// CObject pointer.
class CObject {
public:
    CObject() = default;
    virtual ~CObject() = default;
};
