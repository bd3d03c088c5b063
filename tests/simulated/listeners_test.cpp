// Default-output listeners: firing on their queue, identity-matched removal.
#include "simulated_test_support.h"

namespace mivo::audio::testing {
namespace {

class Listeners : public SimulatedSystemTest {
 protected:
  struct Record {
    int calls = 0;
    int offQueue = 0;
    int badArguments = 0;
  };

  PropertyListenerBlock recordingListener(Record& record) {
    return std::make_shared<const PropertyListener>(
        [this, &record](std::uint32_t count, const PropertyAddress* addresses) {
          ++record.calls;
          if (!queue.isCurrent()) ++record.offQueue;
          if (count != 1 || !(addresses[0] == kDefaultOutputDeviceAddress)) ++record.badArguments;
        });
  }

  OSStatus add(const PropertyListenerBlock& listener) {
    return audio.addPropertyListener(kAudioObjectSystemObject, kDefaultOutputDeviceAddress, queue,
                                     listener);
  }
  OSStatus remove(const PropertyListenerBlock& listener) {
    return audio.removePropertyListener(kAudioObjectSystemObject, kDefaultOutputDeviceAddress,
                                        queue, listener);
  }
  // Listeners run asynchronously; this waits until they have.
  void settle() {
    queue.sync([] {});
  }
};

TEST_F(Listeners, DefaultOutputChangesNotifyOnTheQueue) {
  Record record;
  const auto listener = recordingListener(record);
  ASSERT_EQ(add(listener), kNoErr);
  const auto other = audio.addOutputDevice({"sim-output-B"});
  settle();
  EXPECT_EQ(record.calls, 0);  // a device appearing is not a default change

  audio.setDefaultOutput(other);
  audio.setDefaultOutput(other);     // reported again though nothing changed
  audio.removeOutputDevice(output);  // not the default: no notification
  audio.removeOutputDevice(other);   // the default: notifies
  settle();
  EXPECT_EQ(record.calls, 3);
  EXPECT_EQ(record.offQueue, 0);
  EXPECT_EQ(record.badArguments, 0);
  ASSERT_EQ(remove(listener), kNoErr);
}

TEST_F(Listeners, RemovalMatchesTheVeryListenerAddressAndQueue) {
  Record record;
  const auto listener = recordingListener(record);
  ASSERT_EQ(add(listener), kNoErr);

  const auto lookalike = std::make_shared<const PropertyListener>(*listener);
  platform::SerialQueue otherQueue("sim.test.other");
  EXPECT_NE(remove(lookalike), kNoErr);
  EXPECT_NE(audio.removePropertyListener(kAudioObjectSystemObject, kDefaultOutputDeviceAddress,
                                         otherQueue, listener),
            kNoErr);
  EXPECT_NE(
      audio.removePropertyListener(kAudioObjectSystemObject, kDeviceUIDAddress, queue, listener),
      kNoErr);
  EXPECT_NE(audio.removePropertyListener(output, kDefaultOutputDeviceAddress, queue, listener),
            kNoErr);
  EXPECT_EQ(audio.liveCounts().listeners, 1u);

  EXPECT_EQ(remove(listener), kNoErr);
  EXPECT_EQ(audio.liveCounts().listeners, 0u);
  audio.setDefaultOutput(output);
  settle();
  EXPECT_EQ(record.calls, 0);
  EXPECT_NE(remove(listener), kNoErr);
}

TEST_F(Listeners, OnlyTheDefaultOutputOfTheSystemObjectCanBeListenedTo) {
  Record record;
  const auto listener = recordingListener(record);
  EXPECT_EQ(audio.addPropertyListener(output, kDefaultOutputDeviceAddress, queue, listener),
            kErrBadObject);
  EXPECT_EQ(audio.addPropertyListener(kAudioObjectSystemObject, kNominalSampleRateAddress, queue,
                                      listener),
            kErrUnknownProperty);
  EXPECT_EQ(add(nullptr), kErrParam);
  EXPECT_EQ(add(std::make_shared<const PropertyListener>()), kErrParam);
  EXPECT_EQ(audio.liveCounts().listeners, 0u);
}

TEST_F(Listeners, EachRegistrationIsCalled) {
  Record first;
  Record second;
  const auto a = recordingListener(first);
  const auto b = recordingListener(second);
  ASSERT_EQ(add(a), kNoErr);
  ASSERT_EQ(add(b), kNoErr);
  audio.setDefaultOutput(kAudioObjectUnknown);
  settle();
  EXPECT_EQ(first.calls, 1);
  EXPECT_EQ(second.calls, 1);
  ASSERT_EQ(remove(a), kNoErr);
  ASSERT_EQ(remove(b), kNoErr);
}

}  // namespace
}  // namespace mivo::audio::testing
