function eventually_equal(get, expected, what)
  % Calls get() until it returns `expected`; after a generous minute fails like expect_equal.
  deadline = time() + 60;
  got = get();
  while ~isequal(got, expected) && time() < deadline
    pause(0.01);
    got = get();
  end
  expect_equal(got, expected, what);
end
