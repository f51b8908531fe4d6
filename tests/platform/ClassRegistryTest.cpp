#include <gtest/gtest.h>

#include "platform/graph/ClassIds.h"
#include "platform/graph/ClassRegistry.h"

namespace kelo {
namespace {

class Greeter {
public:
    virtual ~Greeter() = default;
    virtual int Greet() = 0;
};

class GreeterObject : public ComObject, public Greeter {
public:
    int Greet() override { return 42; }
};

class PlainObject : public ComObject {};

TEST(ClassRegistry, CreatesByIdentifierWithoutRegardToCaseAndAnswersInterfaces) {
    ClassRegistry registry;
    registry.Register(CLSID_OverlayFilter, [] { return std::make_shared<GreeterObject>(); });

    ComPtr object;
    ASSERT_EQ(registry.CreateInstance("{17d81951-1132-4327-8a8a-0fe55d342db3}", &object), S_OK);
    auto greeter = QueryInterface<Greeter>(object);
    ASSERT_TRUE(greeter);
    EXPECT_EQ(greeter->Greet(), 42);

    registry.Register(CLSID_Colour, [] { return std::make_shared<PlainObject>(); });
    std::shared_ptr<Greeter> none;
    EXPECT_EQ(registry.CreateInstance(CLSID_Colour, &none), E_NOINTERFACE);
}

TEST(ClassRegistry, UnknownOrRemovedClassesAndEmptyFactoriesFail) {
    ClassRegistry registry;
    ComPtr object;
    EXPECT_EQ(registry.CreateInstance(CLSID_ProxyTransFilter, &object), REGDB_E_CLASSNOTREG);
    registry.Register(CLSID_ProxyTransFilter, [] { return ComPtr(); });
    EXPECT_EQ(registry.CreateInstance(CLSID_ProxyTransFilter, &object), E_FAIL);
    EXPECT_FALSE(object);

    ClassRegistry copy(registry);
    copy.Unregister(CLSID_ProxyTransFilter);
    EXPECT_FALSE(copy.IsRegistered(CLSID_ProxyTransFilter));
    EXPECT_TRUE(registry.IsRegistered(CLSID_ProxyTransFilter));
    EXPECT_EQ(registry.CreateInstance(CLSID_ProxyTransFilter, nullptr), E_POINTER);
}

} // namespace
} // namespace kelo
