// Root of the serialisable object family, as the framework's CObject.
#pragma once

class CArchive;

class CObject {
public:
    CObject() = default;
    CObject(const CObject&) = default;
    CObject& operator=(const CObject&) = default;
    virtual ~CObject() = default;

    // Writes or reads the object; the archive's direction decides which.
    virtual void Serialize(CArchive&) {}
    // Diagnostic hooks of the framework; present so derived classes can override them.
    virtual void AssertValid() const {}
};
