// Reference counting of the library's shared objects (scenes, items). The
// program supplies the count; the library only calls AddRef and Release.
#pragma once

class RefCountInterface {
public:
    virtual int AddRef() = 0;
    // Deletes the object when the count reaches 0; returns the new count.
    virtual int Release() = 0;

protected:
    virtual ~RefCountInterface() = default;
};
