# fish completion for velmo-cli: its commands, each command's options, and file names where a file
# is asked for. tests/dist/completions.sh drives it through fish.
set -l commands spider probe poll detect gateway help
complete -c velmo-cli -f
complete -c velmo-cli -n "not __fish_seen_subcommand_from $commands" -a spider -d 'find the router pages that show the public address'
complete -c velmo-cli -n "not __fish_seen_subcommand_from $commands" -a probe -d 'print the first acceptable address on one page'
complete -c velmo-cli -n "not __fish_seen_subcommand_from $commands" -a poll -d 'print the address a router page shows, every interval'
complete -c velmo-cli -n "not __fish_seen_subcommand_from $commands" -a detect -d "print this machine's public address"
complete -c velmo-cli -n "not __fish_seen_subcommand_from $commands" -a gateway -d "print the router's WAN address, as the router tells it"
complete -c velmo-cli -n "not __fish_seen_subcommand_from $commands" -a help -d "the options of a command"
complete -c velmo-cli -n "not __fish_seen_subcommand_from $commands" -s h -l help -d 'the commands'
complete -c velmo-cli -n "not __fish_seen_subcommand_from $commands" -s V -l version -d 'the version line'
complete -c velmo-cli -n "__fish_seen_subcommand_from help" -a "spider probe poll detect gateway"

for command in spider probe poll detect gateway
    complete -c velmo-cli -n "__fish_seen_subcommand_from $command" -s h -l help -d 'the options'
    complete -c velmo-cli -n "__fish_seen_subcommand_from $command" -l json -d 'one JSON object a line instead of text'
end
for command in spider probe poll
    complete -c velmo-cli -n "__fish_seen_subcommand_from $command" -l login -x -d "the login name for the router's pages"
    complete -c velmo-cli -n "__fish_seen_subcommand_from $command" -l password-stdin -d 'the password is the first line of standard input'
    complete -c velmo-cli -n "__fish_seen_subcommand_from $command" -l password-file -r -F -d 'a private file whose first line is the password'
end
for command in spider probe poll detect
    complete -c velmo-cli -n "__fish_seen_subcommand_from $command" -l connect-timeout -x -d 'give up a request not connected within SECONDS (10)'
    complete -c velmo-cli -n "__fish_seen_subcommand_from $command" -l max-time -x -d 'give up a request that takes longer than SECONDS (60)'
end
for command in spider probe poll detect gateway
    complete -c velmo-cli -n "__fish_seen_subcommand_from $command" -s v -l verbose -d 'print each request on standard error'
end
for command in probe detect
    complete -c velmo-cli -n "__fish_seen_subcommand_from $command" -l allow-reserved -d 'accept reserved addresses too'
end
for command in probe poll
    complete -c velmo-cli -n "__fish_seen_subcommand_from $command" -l exclude -x -d 'addresses that are not the public one'
end
for command in spider detect
    complete -c velmo-cli -n "__fish_seen_subcommand_from $command" -l detect-url -x -d 'ask URL instead of the detection servers'
end
for command in poll detect gateway
    complete -c velmo-cli -n "__fish_seen_subcommand_from $command" -l igd -x -d 'the UPnP IGD root description'
    complete -c velmo-cli -n "__fish_seen_subcommand_from $command" -l natpmp -x -d 'the NAT-PMP gateway'
end
for command in detect gateway
    complete -c velmo-cli -n "__fish_seen_subcommand_from $command" -l each -d 'ask each once'
end
complete -c velmo-cli -n "__fish_seen_subcommand_from spider" -l external-address -x -d 'look for ADDRESS instead of detecting it'
complete -c velmo-cli -n "__fish_seen_subcommand_from spider" -l list-parsed -d 'print every page read'
complete -c velmo-cli -n "__fish_seen_subcommand_from spider" -l deep -d 'also follow pages named in scripts, frames and refreshes'
complete -c velmo-cli -n "__fish_seen_subcommand_from spider" -l report -r -F -d 'write the report of the pages read to FILE'
complete -c velmo-cli -n "__fish_seen_subcommand_from poll" -l interval -x -d 'the time between two readings'
complete -c velmo-cli -n "__fish_seen_subcommand_from poll" -l count -x -d 'stop after N readings'
complete -c velmo-cli -n "__fish_seen_subcommand_from poll" -l on-change -x -d 'run CMD each time the address changes'
complete -c velmo-cli -n "__fish_seen_subcommand_from poll" -l gateway -d 'ask the router itself instead of reading a page'
complete -c velmo-cli -n "__fish_seen_subcommand_from poll" -l state -r -F -d 'keep the last address read in FILE'
complete -c velmo-cli -n "__fish_seen_subcommand_from poll" -s q -l quiet -d 'print only changes and errors'
for command in spider detect gateway
    complete -c velmo-cli -n "__fish_seen_subcommand_from $command" -s q -l quiet -d 'no progress, notes or warnings'
end
complete -c velmo-cli -n "__fish_seen_subcommand_from detect" -l gateway-check -d 'ask the router too'
