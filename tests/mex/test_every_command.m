% Every command word with no further arguments, with and without a connection, twice in one
% session with `clear kestmex` in between: each returns or raises an error, and Octave
% carries on.
words = {'time', 'elec', 'stim', 'digin', 'spike', 'stimdata', 'spike-thresh', 'cont', ...
         'cont-adc', 'stimseq', 'trial', 'signal', 'signal-save', 'filter', 'digout', 'help', ...
         'fastsettle', 'adc2phys', 'lowcorner', 'addoper', 'impedance', 'ground', ...
         'reference', 'transceiver', 'battery', 'sensor', 'button', 'led', 'audio-tone', ...
         'processor-restart', 'version', 'processor-status', 'processor', 'close'};
words{end + 1} = 'help';
assert(numel(unique(words)) == 34 && numel(words) == 35);

for round = 1:2
  for i = 1:numel(words)
    word = words{i};
    % Open first, so that each word runs as a command (the restart closes the connection).
    if ~any(strcmp(word, {'help', 'processor', 'processor-status'}))
      kestmex();
    end
    try
      evalc('kestmex(word);');
    catch err
      % No operator answers "trial" on this processor.
      if strcmp(word, 'trial')
        expect_equal(regexprep(err.message, '^kestmex: ', ''), 'no response', 'trial');
      % A command that needs arguments answers a bare call with its usage text.
      elseif ~strncmp(regexprep(err.message, '^kestmex: ', ''), 'usage: ', 7)
        error('"%s" failed: %s', word, err.message);
      end
    end
  end
  expect_equal(kestmex(), true, 'still usable');
  assert(isa(kestmex('time'), 'double'), 'still usable');
  clear kestmex;
  expect_equal(kestmex('time'), true, 'reloaded module opens anew');
end
