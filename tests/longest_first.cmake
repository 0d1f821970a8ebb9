# Read by ctest after the listed tests: the tests that take longest get a cost, so that a build
# folder with no timings of its own yet (every fresh clone) starts them first and the short ones
# fill in beside them. Once a run has timed them, ctest orders by those timings instead
# (Testing/Temporary/CTestCostData.txt). A name here that a build does not list is passed over.
set(_longest
  "ConsoleSession.ThousandsOfSwitchesKeepTheTrampolineAndEndWithTheGamesBytes"
  "ConsoleSession.SwitchesFromTheConsoleThreadBesideSnapFromInputLeaveEveryPageReadExecute"
  "Trampoline.FailsWhenEverythingWithinReachIsUsed"
  "Startup.AnExecutableThatIsNotTheGameIsRefusedOrLeftUntouched"
  "Switches.FreeplotModeCallsTheStubThroughATrampolineSlotAndKeepsCodeExecuteRead"
  "Switches.ExtraSelectionJumpsToTheOutlineStub"
  "HookSession.WithoutRoomBelowTheImageNoHookGoesInAndLoadStillFinishes"
  "SettingsTest.UnreadableEmptyBinaryAndHugeFilesParseSafely"
  "Switches.AWriteTheSystemRefusesLeavesTheSwitchAsItWas"
  "ScenarioPlayer.NamesTheLineOfAnExpectationThatFails"
  "ScenarioPlayer.SaysWhyAFileOrItsSettingsCannotPlay"
  "unit_tests (shard 1 of 2)"
  "unit_tests (shard 2 of 2)")
foreach(_part RANGE 0 9)
  list(APPEND _longest
       "Part/InputFuzz.RandomRawRecordsReachTheGameExactlyWhenTheHandlersLetThem/${_part}")
endforeach()
foreach(_part RANGE 0 3)
  list(APPEND _longest "Part/Chaos.FixedSeedSequencesLeaveTheGameSettled/${_part}")
endforeach()
set_tests_properties(${_longest} PROPERTIES COST 100)
